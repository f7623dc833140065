// Byte ranges at any position on a device that takes only whole, aligned sectors.

#include "jobs/aligned_stream.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

using fixtures::patternByte;

namespace {

constexpr int64_t kSector = 512;

// A file that refuses what a device opened for direct I/O refuses: a position, a length or a
// buffer that is not aligned to the sector.
class StrictSectors final : public platform::RawStream {
public:
    explicit StrictSectors(std::unique_ptr<platform::RawStream> inner) : inner_(std::move(inner)) {}
    int unaligned = 0;

    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        if (!ok(buffer, count)) return platform::errnoError(EINVAL);
        return inner_->read(buffer, count);
    }
    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        if (!ok(buffer, count)) return platform::errnoError(EINVAL);
        return inner_->write(buffer, count);
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        return inner_->seek(offset, origin);
    }
    platform::Result<int64_t> position() override { return inner_->position(); }
    platform::Result<int64_t> length() override { return inner_->length(); }
    platform::Result<void> truncate(int64_t) override { return platform::errnoError(EINVAL); }
    platform::Result<void> flush() override { return inner_->flush(); }
    platform::Result<platform::DiskGeometry> geometry() override { return platform::errnoError(ENOTTY); }
    platform::Result<platform::DiskGeometryEx> geometryEx() override { return platform::errnoError(ENOTTY); }
    platform::Result<int64_t> lengthInfo() override { return inner_->length(); }

private:
    bool ok(const void* buffer, int64_t count) {
        const int64_t pos = inner_->position().valueOr(-1);
        const bool good =
            pos % kSector == 0 && count % kSector == 0 && reinterpret_cast<uintptr_t>(buffer) % kSector == 0;
        unaligned += !good;
        return good;
    }
    std::unique_ptr<platform::RawStream> inner_;
};

TEST(AlignedStream, ReadsAndWritesAnyRangeAndNothingAroundIt) {
    constexpr int64_t kDisk = 3 << 20;
    const struct {
        int64_t offset, count;
    } cases[] = {
        {0, 512},
        {0, 4096},
        {1, 1},
        {511, 2},
        {100, 300},
        {512, 100},
        {1000, 70000},
        {512, 1 << 20},
        {7, (1 << 20) + 1000}, // more than one bounce buffer
        {kDisk - 3, 3},
        {kDisk - 1000, 1000},
        {4095, 4097},
    };
    fixtures::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.count));
        fixtures::writePatternFile(dir.file("disk"), kDisk, 1);
        auto file = platform::systemBackend().open(dir.file("disk"), platform::OpenMode::ReadWrite);
        ASSERT_TRUE(file.ok());
        auto strict = std::make_unique<StrictSectors>(std::move(*file));
        StrictSectors* device = strict.get();
        // Closed before the file is read back: a writer on Windows shares it with no one.
        auto stream = std::make_optional<jobs::AlignedStream>(std::move(strict), kSector);

        std::vector<char> data(size_t(c.count) + 1);
        for (int64_t i = 0; i < c.count; ++i)
            data[size_t(i) + 1] = char(patternByte(i, 9));
        ASSERT_EQ(stream->seek(c.offset, platform::SeekOrigin::Begin).valueOr(-1), c.offset);
        // From an odd address, as the engine's buffers may be after a short read.
        ASSERT_EQ(stream->write(data.data() + 1, c.count).valueOr(-1), c.count);
        EXPECT_EQ(stream->position().valueOr(-1), c.offset + c.count);

        std::vector<char> back(size_t(c.count) + 3);
        ASSERT_EQ(stream->seek(c.offset, platform::SeekOrigin::Begin).valueOr(-1), c.offset);
        ASSERT_EQ(stream->read(back.data() + 3, c.count).valueOr(-1), c.count);
        EXPECT_EQ(std::memcmp(back.data() + 3, data.data() + 1, size_t(c.count)), 0);
        EXPECT_EQ(device->unaligned, 0) << "the device saw only whole, aligned sectors";
        stream.reset();

        const auto bytes = fixtures::readFile(dir.file("disk"));
        ASSERT_EQ(bytes.size(), size_t(kDisk));
        for (int64_t i = 0; i < kDisk; ++i) {
            const bool inside = i >= c.offset && i < c.offset + c.count;
            ASSERT_EQ(bytes[size_t(i)], inside ? patternByte(i - c.offset, 9) : patternByte(i, 1))
                << "byte " << i;
        }
    }
}

TEST(AlignedStream, AReadEndsWithTheDevice) {
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("disk"), 4096, 1);
    jobs::AlignedStream stream(std::make_unique<StrictSectors>(std::move(*platform::systemBackend().open(
                                   dir.file("disk"), platform::OpenMode::Read))),
                               kSector);
    std::vector<char> buffer(8192);
    ASSERT_EQ(stream.seek(4000, platform::SeekOrigin::Begin).valueOr(-1), 4000);
    EXPECT_EQ(stream.read(buffer.data(), 8192).valueOr(-1), 96);
    EXPECT_EQ(stream.read(buffer.data(), 8192).valueOr(-1), 0);
}

} // namespace
