#include "jobs/digest.h"

// What both backends share; the digests themselves are in digest_openssl.cpp and digest_cng.cpp.

namespace digest {

std::string Context::finish() {
    return hexText(finishRaw());
}

std::string hexText(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

} // namespace digest
