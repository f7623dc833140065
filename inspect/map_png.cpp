// The byte map as a PNG file, written with zlib: the command line has no image library, and the
// window saves the same bytes.
#include "inspect/bytemap.h"

#include "jobs/output_file.h"
#include "platform/platform.h"

#include <zlib.h>

namespace bytemap {
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
    const uLong crc = crc32(0L, out.data() + typeAt, uInt(out.size() - typeAt));
    put32(out, uint32_t(crc));
}

} // namespace

std::vector<uint8_t> encodePng(const Image& image) {
    if (image.height() <= 0) return {};
    const size_t rowBytes = 1 + size_t(image.width()) * 3;
    // Scanlines with filter 0 (none): the map's long runs of one colour deflate well as they are.
    std::vector<uint8_t> raw(rowBytes * size_t(image.height()));
    const uint32_t* p = image.data();
    for (int y = 0; y < image.height(); ++y) {
        uint8_t* row = raw.data() + rowBytes * size_t(y);
        row[0] = 0;
        for (int x = 0; x < image.width(); ++x, ++p) {
            row[1 + 3 * x] = uint8_t(*p >> 16);
            row[2 + 3 * x] = uint8_t(*p >> 8);
            row[3 + 3 * x] = uint8_t(*p);
        }
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
        return {};
    packed.resize(packedSize);

    std::vector<uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    put32(header, uint32_t(image.width()));
    put32(header, uint32_t(image.height()));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, filter set 0, no interlace
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", packed);
    chunk(png, "IEND", {});
    return png;
}

std::optional<std::string> savePng(platform::Backend& backend, const Image& image, const std::string& path) {
    const std::vector<uint8_t> png = encodePng(image);
    if (png.empty()) return "The map has no rows to save: the selection is smaller than one row of the map.";
    if (auto failure = jobs::writeWholeFile(backend, path, png.data(), png.size(), jobs::Existing::Replace))
        return "Failed to write " + path + ", " + *failure;
    return std::nullopt;
}

} // namespace bytemap
