#include "containers/cdi_format.h"

#include "core/byte_order.h"

#include <cstring>

namespace cdi {
namespace {

constexpr uint8_t kSignature[5] = {4, 'Z', 'C', 'D', 'I'};
constexpr uint8_t kVersion[5] = {4, '0', '1', '0', '0'};
constexpr uint8_t kCompression[5] = {4, 'L', 'I', 'B', 'Z'};
constexpr char kFooterMark[4] = {'F', 'O', 'O', 'T'};

void put64(uint8_t* at, int64_t value) {
    le::put64(at, uint64_t(value));
}
int64_t get64(const uint8_t* at) {
    return int64_t(le::get64(at));
}

// The text of a zero-filled field: up to its first zero byte.
std::string fieldText(const uint8_t* at, size_t bytes) {
    const auto* end = static_cast<const uint8_t*>(std::memchr(at, 0, bytes));
    return std::string(reinterpret_cast<const char*>(at), end ? size_t(end - at) : bytes);
}

// Reads exactly `count` bytes at `offset`; false when fewer come.
bool readWhole(platform::RawStream& s, int64_t offset, uint8_t* into, int64_t count) {
    return s.readAt(offset, into, count).valueOr(-1) == count;
}

} // namespace

std::string fitField(const std::string& text, size_t bytes) {
    if (text.size() <= bytes) return text;
    size_t cut = bytes;
    // Back to the start of the character the cut falls in: continuation bytes are 10xxxxxx.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

HeaderBytes buildHeader(const TFileInfo& sel) {
    HeaderBytes h{};
    std::memcpy(h.data() + 0, kSignature, 5);
    std::memcpy(h.data() + 5, kVersion, 5);
    std::memcpy(h.data() + 10, kCompression, 5);
    put64(h.data() + 19, sel.Size);
    put64(h.data() + 27, sel.Offset);
    put64(h.data() + 35, kHeaderSize);
    const std::string name = fitField(sel.DefaultName, kNameField);
    const std::string description = fitField(sel.Description, kDescriptionField);
    std::memcpy(h.data() + kNameAt, name.data(), name.size());
    std::memcpy(h.data() + kDescriptionAt, description.data(), description.size());
    return h;
}

std::string footer(int64_t bodyBytes) {
    const int64_t end = kHeaderSize + bodyBytes + 4;
    std::string f(4 + size_t((4 - end % 4) % 4), '\0');
    return f.append(kFooterMark, 4);
}

Inspection inspect(platform::RawStream& image) {
    Inspection result;
    // The footer mark first, as the load reads it; a file of fewer than 4 bytes has none.
    uint8_t mark[4] = {};
    const auto length = image.length();
    const bool marked = length && *length >= 4 && readWhole(image, *length - 4, mark, 4) &&
                        std::memcmp(mark, kFooterMark, 4) == 0;

    HeaderBytes h{};
    if (!readWhole(image, 0, h.data(), kHeaderSize)) return result;
    result = inspectHeader(h);
    if (result.check == Check::Ok && !marked) result.check = Check::Incomplete;
    return result;
}

Inspection inspectHeader(const HeaderBytes& h) {
    Inspection result;
    if (std::memcmp(h.data(), kSignature, 5) != 0 || std::memcmp(h.data() + 10, kCompression, 5) != 0 ||
        std::memcmp(h.data() + 5, kVersion, 5) != 0) {
        result.check = Check::UnknownFormat;
        return result;
    }
    result.header.sourceSize = get64(h.data() + 19);
    result.header.sourceOffset = get64(h.data() + 27);
    result.header.dataStart = get64(h.data() + 35);
    result.header.sourceName = fieldText(h.data() + kNameAt, kNameField);
    result.header.sourceDescription = fieldText(h.data() + kDescriptionAt, kDescriptionField);
    result.check = Check::Ok;
    return result;
}

} // namespace cdi
