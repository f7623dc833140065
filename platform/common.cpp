#include "platform/platform.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

Error errnoError(int code) {
    return Error{code, std::strerror(code)};
}

namespace {
std::atomic<bool> gInterrupt{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");
} // namespace

void requestInterrupt() {
    gInterrupt.store(true, std::memory_order_relaxed);
}
bool interruptRequested() {
    return gInterrupt.load(std::memory_order_relaxed);
}
void clearInterrupt() {
    gInterrupt.store(false, std::memory_order_relaxed);
}

Result<int64_t> RawStream::readAt(int64_t offset, void* buffer, int64_t count) {
    const auto at = seek(offset, SeekOrigin::Begin);
    if (!at) return at.error();
    if (*at != offset) return errnoError(ESPIPE);
    return read(buffer, count);
}

Result<int64_t> RawStream::writeAt(int64_t offset, const void* buffer, int64_t count) {
    const auto at = seek(offset, SeekOrigin::Begin);
    if (!at) return at.error();
    if (*at != offset) return errnoError(ESPIPE);
    return write(buffer, count);
}

Result<void> PendingFile::copyFrom(RawStream& source) {
    if (auto at = source.seek(0, SeekOrigin::Begin); !at) return at.error();
    std::vector<char> buffer(size_t(1) << 20);
    for (;;) {
        auto n = source.read(buffer.data(), int64_t(buffer.size()));
        if (!n) return n.error();
        if (*n == 0) return {};
        auto w = stream().write(buffer.data(), *n);
        if (!w) return w.error();
        if (*w != *n) return errnoError(ENOSPC);
    }
}

std::string DriveIdentity::product() const {
    const auto upper = [](std::string text) {
        for (char& c : text)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        return text;
    };
    const std::string maker = upper(vendor);
    if (maker.empty() || maker == "ATA" || upper(model).rfind(maker, 0) == 0) return model;
    if (model.empty()) return vendor;
    return vendor + " " + model;
}

DiskGeometry modernGeometry(int64_t size, uint32_t bytesPerSector, int32_t mediaType) {
    DiskGeometry g;
    g.mediaType = mediaType;
    g.tracksPerCylinder = 255;
    g.sectorsPerTrack = 63;
    g.bytesPerSector = bytesPerSector;
    const int64_t cylinderBytes = 255 * 63 * int64_t(bytesPerSector);
    g.cylinders = (size > 0 && cylinderBytes > 0) ? size / cylinderBytes : 0;
    return g;
}

std::optional<ByteRange> ByteRange::make(int64_t offset, int64_t size) {
    if (offset < 0 || size < 0 || offset > std::numeric_limits<int64_t>::max() - size) return std::nullopt;
    return ByteRange(offset, size);
}

ByteRange ByteRange::of(int64_t offset, int64_t size) {
    if (auto r = make(offset, size)) return *r;
    throw std::invalid_argument("not a byte range: offset " + std::to_string(offset) + ", size " +
                                std::to_string(size));
}

static const char kDrivePrefix[] = "\\\\.\\PHYSICALDRIVE";

std::string physicalDriveName(int index) {
    return kDrivePrefix + std::to_string(index);
}

std::optional<int> parsePhysicalDriveName(const std::string& name) {
    const size_t n = std::strlen(kDrivePrefix);
    if (name.size() <= n || name.size() > n + 3) return std::nullopt;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != kDrivePrefix[i]) return std::nullopt;
    int value = 0;
    for (size_t i = n; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
        value = value * 10 + (name[i] - '0');
    }
    return value;
}

std::optional<char> parseVolumeName(const std::string& name) {
    if (name.size() != 6 || name.compare(0, 4, "\\\\.\\") != 0 || name[5] != ':') return std::nullopt;
    const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(name[4])));
    if (c < 'A' || c > 'Z') return std::nullopt;
    return c;
}

} // namespace platform
