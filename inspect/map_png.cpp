// The byte map as a PNG file: the command line and the window save the same bytes.
#include "inspect/bytemap.h"

#include "core/png.h"
#include "jobs/output_file.h"
#include "platform/platform.h"

namespace bytemap {

std::vector<uint8_t> encodePng(const Image& image) {
    const uint32_t* pixels = image.data();
    return png::encodeRgb(image.width(), image.height(), [&](int y, uint8_t* rgb) {
        const uint32_t* p = pixels + size_t(y) * size_t(image.width());
        for (int x = 0; x < image.width(); ++x, ++p) {
            rgb[3 * x] = uint8_t(*p >> 16);
            rgb[3 * x + 1] = uint8_t(*p >> 8);
            rgb[3 * x + 2] = uint8_t(*p);
        }
    });
}

std::optional<std::string> savePng(platform::Backend& backend, const Image& image, const std::string& path) {
    const std::vector<uint8_t> png = encodePng(image);
    if (png.empty()) return "The map has no rows to save: the selection is smaller than one row of the map.";
    if (auto failure = jobs::writeWholeFile(backend, path, png.data(), png.size(), jobs::Existing::Replace))
        return "Failed to write " + path + ", " + *failure;
    return std::nullopt;
}

} // namespace bytemap
