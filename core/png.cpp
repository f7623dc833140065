#include "core/png.h"

#include <zlib.h>

namespace png {
namespace {

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

void chunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
    put32(out, uint32_t(data.size()));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, uint32_t(crc32(0L, out.data() + typeAt, uInt(out.size() - typeAt))));
}

} // namespace

std::vector<uint8_t> encodeRgb(int width, int height, const std::function<void(int y, uint8_t* rgb)>& row) {
    if (width <= 0 || height <= 0) return {};
    const size_t rowBytes = 1 + size_t(width) * 3;
    // Scanlines with filter 0 (none): long runs of one colour deflate well as they are.
    std::vector<uint8_t> raw(rowBytes * size_t(height));
    for (int y = 0; y < height; ++y) {
        raw[rowBytes * size_t(y)] = 0;
        row(y, raw.data() + rowBytes * size_t(y) + 1);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::vector<uint8_t> file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32(header, uint32_t(width));
    put32(header, uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, filter set 0, no interlace
    chunk(file, "IHDR", header);
    chunk(file, "IDAT", packed);
    chunk(file, "IEND", {});
    return file;
}

} // namespace png
