#pragma once
// MD5 (RFC 1321), SHA-1 (FIPS 180-1) and SHA-256 (FIPS 180-2) with an incremental interface: start, add bytes
// in order, finish. The work is the system's: OpenSSL's libcrypto (EVP) on Linux, which uses the CPU's SHA
// instructions where there are some, and CNG on Windows. Plain C++, no Qt.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace digest {

// One running digest of either kind. A context is started when it is made; after finish() it
// must be started again before more bytes are added.
class Context {
public:
    enum class Kind { Md5, Sha1, Sha256 };
    explicit Context(Kind kind);
    ~Context();
    Context(Context&&) noexcept;
    Context& operator=(Context&&) noexcept;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    void start();
    void add(const void* data, size_t size);
    // The digest of every byte added since start(): 16 bytes for MD5, 20 for SHA-1, 32 for SHA-256.
    std::string finishRaw();
    // The same as upper-case hexadecimal, two digits a byte, nothing between them.
    std::string finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

class Md5 : public Context {
public:
    Md5() : Context(Kind::Md5) {}
};
class Sha1 : public Context {
public:
    Sha1() : Context(Kind::Sha1) {}
};
class Sha256 : public Context {
public:
    Sha256() : Context(Kind::Sha256) {}
};

// Bytes as upper-case hexadecimal, two digits each.
std::string hexText(const std::string& bytes);

} // namespace digest
