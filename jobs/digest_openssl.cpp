// The digests through OpenSSL's libcrypto (EVP).

#include "jobs/digest.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <stdexcept>

namespace digest {
namespace {

// A digest the library refuses (MD5 in a FIPS-only configuration) is an error the user sees.
[[noreturn]] void fail(const char* what) {
    char text[256] = "unknown error";
    if (const unsigned long code = ERR_get_error()) ERR_error_string_n(code, text, sizeof text);
    throw std::runtime_error(std::string(what) + ": " + text);
}

} // namespace

struct Context::State {
    const EVP_MD* md = nullptr;
    EVP_MD_CTX* ctx = nullptr;
    const char* name = "";
    ~State() { EVP_MD_CTX_free(ctx); }
};

Context::Context(Kind kind) : state_(std::make_unique<State>()) {
    state_->md = kind == Kind::Md5 ? EVP_md5() : kind == Kind::Sha1 ? EVP_sha1() : EVP_sha256();
    state_->name = kind == Kind::Md5 ? "MD5" : kind == Kind::Sha1 ? "SHA-1" : "SHA-256";
    state_->ctx = EVP_MD_CTX_new();
    if (!state_->md || !state_->ctx) fail("Cannot prepare a digest");
    start();
}

Context::~Context() = default;
Context::Context(Context&&) noexcept = default;
Context& Context::operator=(Context&&) noexcept = default;

void Context::start() {
    if (EVP_DigestInit_ex(state_->ctx, state_->md, nullptr) != 1)
        fail((std::string("Cannot start the ") + state_->name + " digest").c_str());
}

void Context::add(const void* data, size_t size) {
    if (size == 0) return;
    if (EVP_DigestUpdate(state_->ctx, data, size) != 1)
        fail((std::string("Cannot compute the ") + state_->name + " digest").c_str());
}

std::string Context::finishRaw() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->ctx, out, &length) != 1)
        fail((std::string("Cannot finish the ") + state_->name + " digest").c_str());
    return std::string(reinterpret_cast<const char*>(out), length);
}

} // namespace digest
