#pragma once
// PNG files of 8-bit RGB pixels, written with zlib: the command line has no image library, and
// the byte map and the speed chart save their pictures this way. Plain C++, no Qt.

#include <cstdint>
#include <functional>
#include <vector>

namespace png {

// The file's bytes for a `width` x `height` picture whose row y `row` writes as width x 3 bytes
// (red, green, blue). Empty when there are no rows or compression fails.
std::vector<uint8_t> encodeRgb(int width, int height, const std::function<void(int y, uint8_t* rgb)>& row);

} // namespace png
