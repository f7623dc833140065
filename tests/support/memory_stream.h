#pragma once
// A disk in memory: a stream over a byte vector that records where each read started, for tests
// and fuzz targets that need no file. Header only, so a fuzz target builds from it alone.

#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace platform::testkit {

// Reads stop at the end of the bytes; writes replace them and grow them as a file's would; the
// disk queries describe a fixed disk of that size with sectors of bytesPerSector bytes.
class MemoryStream final : public RawStream {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes = {}) : bytes_(std::move(bytes)) {}
    MemoryStream(const uint8_t* data, size_t size) : bytes_(data, data + size) {}

    // length() fails with EIO, as on a device that cannot tell its size.
    bool failLength = false;
    // Where each read started, in order.
    std::vector<int64_t> reads;
    // How many writes were asked.
    int writes = 0;
    uint32_t bytesPerSector = 512;

    const std::vector<uint8_t>& bytes() const { return bytes_; }

    Result<int64_t> read(void* buffer, int64_t count) override {
        reads.push_back(pos_);
        if (count < 0) return errnoError(EINVAL);
        const int64_t n = std::max<int64_t>(0, std::min(count, size() - pos_));
        if (n > 0) std::memcpy(buffer, bytes_.data() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    Result<int64_t> write(const void* buffer, int64_t count) override {
        ++writes;
        if (count < 0 || pos_ > std::numeric_limits<int64_t>::max() - count) return errnoError(EINVAL);
        if (pos_ + count > size()) bytes_.resize(size_t(pos_ + count));
        if (count > 0) std::memcpy(bytes_.data() + pos_, buffer, size_t(count));
        pos_ += count;
        return count;
    }
    // Like a file's: the position may go past the end, never before the start.
    Result<int64_t> seek(int64_t offset, SeekOrigin origin) override {
        const int64_t base = origin == SeekOrigin::Begin ? 0 : origin == SeekOrigin::Current ? pos_ : size();
        if (offset < -base || (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset))
            return errnoError(EINVAL);
        pos_ = base + offset;
        return pos_;
    }
    Result<int64_t> position() override { return pos_; }
    Result<int64_t> length() override {
        if (failLength) return errnoError(EIO);
        return size();
    }
    Result<void> truncate(int64_t length) override {
        if (length < 0) return errnoError(EINVAL);
        bytes_.resize(size_t(length));
        return {};
    }
    Result<void> flush() override { return {}; }

    Result<DiskGeometry> geometry() override { return modernGeometry(size(), bytesPerSector, 12); }
    Result<DiskGeometryEx> geometryEx() override {
        return DiskGeometryEx{modernGeometry(size(), bytesPerSector, 12), size()};
    }
    Result<int64_t> lengthInfo() override { return size(); }

private:
    int64_t size() const { return int64_t(bytes_.size()); }

    std::vector<uint8_t> bytes_;
    int64_t pos_ = 0;
};

} // namespace platform::testkit
