#pragma once
// The byte classes the hex viewer's filters and the byte map count: text (blank, "0" to "9",
// "A" to "Z", "a" to "z"), empty (0 and 255) and everything else. Plain C++.

#include <cstddef>
#include <cstdint>

namespace inspect {

inline bool isTextByte(uint8_t b) {
    return b == ' ' || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}
inline bool isEmptyByte(uint8_t b) {
    return b == 0 || b == 255;
}

struct ByteCounts {
    int64_t text = 0;
    int64_t empty = 0; // 0 and 255 together
    int64_t other(int64_t size) const { return size - text - empty; }
};

// Counts a buffer's text and empty bytes; a map of 2 GiB passes every byte through here, so it
// works on 16 bytes at a time.
ByteCounts countClasses(const uint8_t* data, size_t size);

// Counts `pieces` consecutive pieces of `pieceSize` bytes each on its own into out[0 .. pieces):
// the byte map's pixels, without a call for every one.
void countPieces(const uint8_t* data, size_t pieces, size_t pieceSize, ByteCounts* out);

// True when every byte equals `value`.
bool allBytesAre(const uint8_t* data, size_t size, uint8_t value);

} // namespace inspect
