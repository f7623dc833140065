#pragma once
// Pieces that let the block engine read from and write into things that are not files, and an
// image file that replaces an earlier one only when it is complete. Internal to the containers
// engines.

#include "jobs/job.h"
#include "jobs/stream_adapter.h"
#include "platform/platform.h"

#include <cerrno>
#include <memory>
#include <string>

namespace containers::detail {

using StreamAdapter = jobs::StreamAdapter;

// A new file, or the replacement of an existing one: the bytes go to a file beside it that takes
// its name only at commit(), so a save that fails leaves an earlier file as it was.
class ReplacingFile {
public:
    // Null when the earlier file cannot be held or the new one cannot be created.
    static std::unique_ptr<ReplacingFile> create(platform::Backend& backend, const std::string& file);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    platform::RawStream& stream() { return *stream_; }
    bool replacing() const { return old_ != nullptr; }
    // The new file takes the name; false (and a message) when the rename fails.
    [[nodiscard]] bool commit(Dialogs& dialogs);
    // The new bytes go; an earlier file stays as it was.
    void discard();

private:
    explicit ReplacingFile(std::string file);
    std::string file_;
    std::string path_;
    std::unique_ptr<platform::RawStream> stream_;
    std::unique_ptr<platform::RawStream> old_;
    bool committed_ = false;
};

// True when two names lead to the same file or device (a loop device and its backing file too).
bool sameObject(platform::Backend& backend, const std::string& a, const std::string& b);

// "Cannot open file "<full path>". <system text>", the error box's text for a file that would
// not open.
std::string cannotOpenFile(const std::string& path, const std::string& systemText);

} // namespace containers::detail
