#include "cli/std_streams.h"

#include "cli/stop_signals.h"

#include <cerrno>
#include <istream>
#include <ostream>

namespace cli {
namespace {

platform::Error notSeekable() {
    return platform::errnoError(ESPIPE);
}

} // namespace

platform::Result<int64_t> IoStream::read(void* buffer, int64_t count) {
    if (!in_) return platform::errnoError(EBADF);
    if (stopSignal()) return platform::errnoError(EINTR);
    in_->read(static_cast<char*>(buffer), std::streamsize(count));
    const int64_t got = in_->gcount();
    // A read cut short by a signal is a stop, not the end of the data.
    if (got < count && stopSignal()) return platform::errnoError(EINTR);
    if (got < count && in_->bad()) return platform::errnoError(EIO);
    moved_ += got;
    return got;
}

platform::Result<int64_t> IoStream::write(const void* buffer, int64_t count) {
    if (!out_) return platform::errnoError(EBADF);
    if (stopSignal()) return platform::errnoError(EINTR);
    if (!out_->write(static_cast<const char*>(buffer), std::streamsize(count)))
        return platform::errnoError(outputClosed() ? EPIPE : EIO);
    moved_ += count;
    return count;
}

platform::Result<int64_t> IoStream::seek(int64_t offset, platform::SeekOrigin origin) {
    // Only where it already is: a pipe moves forwards by reading and writing.
    if (origin == platform::SeekOrigin::Begin && offset == moved_) return moved_;
    return notSeekable();
}

platform::Result<int64_t> IoStream::position() {
    return notSeekable();
}

platform::Result<int64_t> IoStream::length() {
    return notSeekable();
}

platform::Result<void> IoStream::truncate(int64_t) {
    return notSeekable();
}

platform::Result<void> IoStream::flush() {
    if (out_ && !out_->flush()) return platform::errnoError(outputClosed() ? EPIPE : EIO);
    return {};
}

platform::Result<platform::DiskGeometry> IoStream::geometry() {
    return platform::errnoError(ENOTTY);
}

platform::Result<platform::DiskGeometryEx> IoStream::geometryEx() {
    return platform::errnoError(ENOTTY);
}

platform::Result<int64_t> IoStream::lengthInfo() {
    return platform::errnoError(ENOTTY);
}

} // namespace cli
