#pragma once
// A device that takes only whole, aligned sectors (one opened for direct I/O, and any device on
// Windows) seen as a plain byte stream: reads and writes at any position and of any length. A
// partial sector is read whole and trimmed; writing part of one reads it, changes the bytes in
// range and writes it back, so no byte outside the range written ever changes. Plain C++.

#include "core/aligned_buffer.h"
#include "platform/platform.h"

#include <cstdint>
#include <memory>

namespace jobs {

class AlignedStream final : public platform::RawStream {
public:
    // sector: the device's logical sector size; buffers handed to it are aligned to `memory`.
    AlignedStream(std::unique_ptr<platform::RawStream> inner, int64_t sector, int64_t memory = 4096);
    ~AlignedStream() override;

    platform::Result<int64_t> read(void* buffer, int64_t count) override;
    platform::Result<int64_t> write(const void* buffer, int64_t count) override;
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override;
    platform::Result<int64_t> position() override { return position_; }
    platform::Result<int64_t> length() override { return inner_->length(); }
    platform::Result<void> truncate(int64_t length) override { return inner_->truncate(length); }
    platform::Result<void> flush() override { return inner_->flush(); }
    platform::Result<void> dropCache() override { return inner_->dropCache(); }
    platform::Result<platform::DiskGeometry> geometry() override { return inner_->geometry(); }
    platform::Result<platform::DiskGeometryEx> geometryEx() override { return inner_->geometryEx(); }
    platform::Result<int64_t> lengthInfo() override { return inner_->lengthInfo(); }
    int64_t physicalSectorSize() override { return inner_->physicalSectorSize(); }
    std::string fingerprint() override { return inner_->fingerprint(); }
    std::optional<platform::DriveIdentity> driveIdentity() override { return inner_->driveIdentity(); }

private:
    bool aligned(int64_t position, int64_t count, const void* buffer) const;
    // Whole sectors [at, at + count) of the device into the bounce buffer, or from it.
    platform::Result<int64_t> readSectors(int64_t at, int64_t count);
    platform::Result<int64_t> writeSectors(int64_t at, int64_t count);

    std::unique_ptr<platform::RawStream> inner_;
    int64_t sector_;
    int64_t memory_;
    int64_t position_ = 0;
    aligned::Buffer<char> bounce_; // a whole number of sectors, aligned to memory_
    int64_t bounceSize_ = 0;
};

} // namespace jobs
