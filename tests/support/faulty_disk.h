#pragma once
// The bytes the faulty FUSE disk serves, shared by the server and the tests that check its copies.

#include <cstdint>

namespace faultydisk {

// Byte `p` of the disk: a hash of its 8-byte word, so a block copied to the wrong place shows.
inline uint8_t patternByte(int64_t p) {
    uint64_t x = uint64_t(p / 8) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return uint8_t(x >> (8 * (p % 8)));
}

} // namespace faultydisk
