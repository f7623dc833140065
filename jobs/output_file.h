#pragma once
// The one way the program creates a file (an image, an archive, a chart, a map, a screenshot).
// Plain C++, no Qt.
//
// The rules, in one place:
// - The name is a regular file or a free name. Folders, device nodes (and the drive and volume
//   names "\\.\PHYSICALDRIVE<n>", "\\.\C:"), named pipes and sockets are refused: a device is only
//   ever written behind the overwrite gate.
// - A symbolic link is replaced as a link; what it points to is never written.
// - The content goes to a new file that nobody else can reach (nameless, or under a random name
//   created O_EXCL | O_NOFOLLOW beside the target), is flushed, and takes the name only at
//   commit(). Until then an earlier file stays exactly as it was; an output dropped without a
//   commit leaves nothing behind.
// - Nothing removes or replaces a name this run did not create, except the target the user named
//   and agreed to replace.
// - An earlier file is held while the new one is written: one that another program holds, or
//   that backs a loop device in use, is in use and is not replaced.

#include "platform/platform.h"

#include <memory>
#include <optional>
#include <string>

namespace jobs {

// What happens to a file that already stands at the name.
enum class Existing {
    Refuse,  // the name must be free
    Replace, // the new file replaces it once complete (the user agreed)
    Append,  // the new file starts as a copy of it and replaces it once complete
    // The earlier regular file itself is written in place: not truncated, not replaced, no new
    // file beside it (a run that continues an image it wrote before). It must be there, and
    // links are refused as for Append. commit() only flushes.
    Update,
};

// Why `path` cannot take an output under `existing`, in the system's style ("Is a directory");
// nullopt when it can. create() checks the same again; this lets a command refuse before it works.
std::optional<std::string> outputRefusal(platform::Backend& backend, const std::string& path,
                                         Existing existing);

// True when anything stands at `path` (a file, a link, even a dangling one, a folder...): what the
// "already exists, replace it?" question is about.
bool outputNameTaken(platform::Backend& backend, const std::string& path);

// Writes `size` bytes as the whole file `path`, through an OutputFile under `existing`. The
// failure's text in the system's style, or nothing.
std::optional<std::string> writeWholeFile(platform::Backend& backend, const std::string& path,
                                          const void* data, size_t size, Existing existing);

class OutputFile {
public:
    // The error's text says why, in the system's style, for "Failed to open <path> for writing".
    static platform::Result<std::unique_ptr<OutputFile>> create(platform::Backend& backend,
                                                                const std::string& path, Existing existing);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The new file's content; for Append, positioned after the earlier file's bytes; for Update,
    // the earlier file. It stays open after commit(): the file is this run's own by then.
    platform::RawStream& stream() { return pending_ ? pending_->stream() : *held_; }
    const std::string& path() const { return path_; }
    // An earlier file stands at the name, and commit() will replace it.
    bool replacing() const { return !replacing_.empty(); }

    // Flushes the new file and gives it the name; an error's text says why it could not. Once it
    // has the name, a later commit() only flushes.
    platform::Result<void> commit();
    bool committed() const { return committed_; }
    // Before commit(): the new file goes and an earlier file stays as it was. After it: closes.
    // For Update it only closes: what was written is in the file already.
    void discard();

private:
    OutputFile(std::string path, std::string replacing, std::unique_ptr<platform::RawStream> held,
               std::unique_ptr<platform::PendingFile> pending);

    std::string path_;
    std::string replacing_; // identity of the entry to replace, or empty
    // The earlier file, held while the new one is written; for Update, the file written.
    std::unique_ptr<platform::RawStream> held_;
    std::unique_ptr<platform::PendingFile> pending_;
    bool committed_ = false;
};

} // namespace jobs
