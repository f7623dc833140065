// The digests through the Windows system's own cryptography (CNG), so that no library has to be
// shipped beside the program.

#include "jobs/digest.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <stdexcept>

namespace digest {
namespace {

[[noreturn]] void fail(const std::string& what, NTSTATUS status) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    throw std::runtime_error(what + ": status " + code);
}

// One provider per kind for the whole run: opening one is slow, and a provider may be shared by
// any number of hashes on any threads.
class Provider {
public:
    explicit Provider(LPCWSTR algorithm) {
        status_ = ::BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, 0);
        if (status_ < 0) handle_ = nullptr;
    }
    ~Provider() {
        if (handle_) ::BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;

    BCRYPT_ALG_HANDLE handle(const char* name) const {
        if (!handle_) fail(std::string("Cannot prepare the ") + name + " digest", status_);
        return handle_;
    }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
    NTSTATUS status_ = 0;
};

BCRYPT_ALG_HANDLE provider(Context::Kind kind, const char* name) {
    static const Provider md5(BCRYPT_MD5_ALGORITHM);
    static const Provider sha1(BCRYPT_SHA1_ALGORITHM);
    static const Provider sha256(BCRYPT_SHA256_ALGORITHM);
    const Provider& p = kind == Context::Kind::Md5 ? md5 : kind == Context::Kind::Sha1 ? sha1 : sha256;
    return p.handle(name);
}

} // namespace

struct Context::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ULONG length = 0;
    const char* name = "";

    void close() {
        if (hash) ::BCryptDestroyHash(hash);
        hash = nullptr;
    }
    ~State() { close(); }
};

Context::Context(Kind kind) : state_(std::make_unique<State>()) {
    state_->name = kind == Kind::Md5 ? "MD5" : kind == Kind::Sha1 ? "SHA-1" : "SHA-256";
    state_->algorithm = provider(kind, state_->name);
    ULONG got = 0;
    const NTSTATUS status =
        ::BCryptGetProperty(state_->algorithm, BCRYPT_HASH_LENGTH, reinterpret_cast<PUCHAR>(&state_->length),
                            sizeof state_->length, &got, 0);
    if (status < 0) fail(std::string("Cannot prepare the ") + state_->name + " digest", status);
    start();
}

Context::~Context() = default;
Context::Context(Context&&) noexcept = default;
Context& Context::operator=(Context&&) noexcept = default;

void Context::start() {
    state_->close();
    // The system keeps the hash object's memory itself (Windows 7 and later).
    const NTSTATUS status = ::BCryptCreateHash(state_->algorithm, &state_->hash, nullptr, 0, nullptr, 0, 0);
    if (status < 0) {
        state_->hash = nullptr;
        fail(std::string("Cannot start the ") + state_->name + " digest", status);
    }
}

void Context::add(const void* data, size_t size) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        // The call takes a 32-bit count.
        const ULONG piece = size > 0x40000000 ? 0x40000000 : ULONG(size);
        const NTSTATUS status = state_->hash ? ::BCryptHashData(state_->hash, p, piece, 0) : NTSTATUS(-1);
        if (status < 0) fail(std::string("Cannot compute the ") + state_->name + " digest", status);
        p += piece;
        size -= piece;
    }
}

std::string Context::finishRaw() {
    std::string out(state_->length, '\0');
    const NTSTATUS status =
        state_->hash
            ? ::BCryptFinishHash(state_->hash, reinterpret_cast<PUCHAR>(out.data()), state_->length, 0)
            : NTSTATUS(-1);
    // A finished hash object takes no more bytes: it is let go, and start() makes a new one.
    state_->close();
    if (status < 0) fail(std::string("Cannot finish the ") + state_->name + " digest", status);
    return out;
}

} // namespace digest
