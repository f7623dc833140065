#pragma once
// Standard input and output as raw streams, for an image given as "-": read and written as the
// data comes, never positioned, never flushed to a medium. A stop signal interrupts them.

#include "platform/platform.h"

#include <iosfwd>

namespace cli {

class IoStream final : public platform::RawStream {
public:
    // One of the two is given: a stream to read or one to write.
    explicit IoStream(std::istream& in) : in_(&in) {}
    explicit IoStream(std::ostream& out) : out_(&out) {}

    platform::Result<int64_t> read(void* buffer, int64_t count) override;
    platform::Result<int64_t> write(const void* buffer, int64_t count) override;
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override;
    // None, as a pipe has none: the block engine then reads it on the thread a stop signal
    // reaches, never on a reader thread that would wait on it unstoppably.
    platform::Result<int64_t> position() override;
    platform::Result<int64_t> length() override;
    platform::Result<void> truncate(int64_t length) override;
    // Hands the bytes on to the pipe or file behind standard output.
    platform::Result<void> flush() override;
    platform::Result<platform::DiskGeometry> geometry() override;
    platform::Result<platform::DiskGeometryEx> geometryEx() override;
    platform::Result<int64_t> lengthInfo() override;

private:
    std::istream* in_ = nullptr;
    std::ostream* out_ = nullptr;
    int64_t moved_ = 0;
};

} // namespace cli
