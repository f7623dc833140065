#pragma once
// A base for the streams the block engine reads from or writes into that are not files or
// devices (a fill pattern, the digests, a picture): every operation fails until a subclass gives
// it, and none can be positioned, so the engine never rewinds one. Plain C++, no Qt.

#include "platform/platform.h"

#include <cerrno>

namespace jobs {

class StreamAdapter : public platform::RawStream {
public:
    platform::Result<int64_t> read(void*, int64_t) override { return platform::errnoError(EBADF); }
    platform::Result<int64_t> write(const void*, int64_t) override { return platform::errnoError(EBADF); }
    platform::Result<int64_t> seek(int64_t, platform::SeekOrigin) override {
        return platform::errnoError(ESPIPE);
    }
    platform::Result<int64_t> position() override { return platform::errnoError(ESPIPE); }
    platform::Result<int64_t> length() override { return platform::errnoError(ESPIPE); }
    platform::Result<void> truncate(int64_t) override { return platform::errnoError(EINVAL); }
    platform::Result<void> flush() override { return {}; }
    platform::Result<platform::DiskGeometry> geometry() override { return platform::errnoError(ENOTTY); }
    platform::Result<platform::DiskGeometryEx> geometryEx() override { return platform::errnoError(ENOTTY); }
    platform::Result<int64_t> lengthInfo() override { return platform::errnoError(ENOTTY); }
};

} // namespace jobs
