#pragma once
// Several digests over the same bytes, computed side by side on the machine's cores: the digests
// an image is given while it is made. Plain C++, no Qt.

#include "core/command.h"
#include "jobs/byte_observer.h"
#include "jobs/digest.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace digest {

class Set final : public jobs::ByteObserver {
public:
    // Each kind once, in the order given.
    explicit Set(std::vector<Context::Kind> kinds);
    ~Set() override;
    Set(const Set&) = delete;
    Set& operator=(const Set&) = delete;

    // "md5,sha1,sha256" (any of them, in any order, each once; case does not matter). Throws
    // std::invalid_argument naming what is wrong.
    static std::vector<Context::Kind> parse(const std::string& list);
    // "MD5", "SHA1", "SHA256": the names the digest lines start with.
    static const char* name(Context::Kind kind);

    void add(const uint8_t* data, int64_t size) noexcept override;
    // "MD5 <hex>\nSHA1 <hex>\n...", in the order of the kinds, upper-case hexadecimal; finishes
    // the digests on its first call. When a digest failed, the line says so instead.
    std::string summary() override;
    // The bytes added so far.
    int64_t bytes() const { return bytes_; }

private:
    struct Running;
    std::vector<std::unique_ptr<Running>> running_;
    int64_t bytes_ = 0;
    std::string summary_;
    bool finished_ = false;
};

// The digests a command's --hash names, or none. A list that names something else is a usage error.
std::optional<Set> fromHashOption(const cli::CommandLine& args);

} // namespace digest
