#include "jobs/aligned_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace jobs {
namespace {

constexpr int64_t kBounce = 1 << 20;

int64_t roundDown(int64_t v, int64_t unit) {
    return v / unit * unit;
}
int64_t roundUp(int64_t v, int64_t unit) {
    return (v + unit - 1) / unit * unit;
}

} // namespace

AlignedStream::AlignedStream(std::unique_ptr<platform::RawStream> inner, int64_t sector, int64_t memory)
    : inner_(std::move(inner)), sector_(std::max<int64_t>(sector, 1)), memory_(std::max(memory, sector_)) {
    bounceSize_ = std::max(sector_, roundDown(kBounce, sector_));
    bounce_ = aligned::allocate(size_t(memory_), size_t(roundUp(bounceSize_, memory_)));
}

AlignedStream::~AlignedStream() = default;

bool AlignedStream::aligned(int64_t position, int64_t count, const void* buffer) const {
    return position % sector_ == 0 && count % sector_ == 0 &&
           reinterpret_cast<uintptr_t>(buffer) % memory_ == 0;
}

platform::Result<int64_t> AlignedStream::readSectors(int64_t at, int64_t count) {
    const auto pos = inner_->seek(at, platform::SeekOrigin::Begin);
    if (!pos) return pos.error();
    if (*pos != at) return platform::errnoError(EIO);
    return inner_->read(bounce_.get(), count);
}

platform::Result<int64_t> AlignedStream::writeSectors(int64_t at, int64_t count) {
    const auto pos = inner_->seek(at, platform::SeekOrigin::Begin);
    if (!pos) return pos.error();
    if (*pos != at) return platform::errnoError(EIO);
    return inner_->write(bounce_.get(), count);
}

platform::Result<int64_t> AlignedStream::seek(int64_t offset, platform::SeekOrigin origin) {
    int64_t base = 0;
    if (origin == platform::SeekOrigin::Current) base = position_;
    if (origin == platform::SeekOrigin::End) {
        const auto length = inner_->length();
        if (!length) return length.error();
        base = *length;
    }
    if (base + offset < 0) return platform::errnoError(EINVAL);
    position_ = base + offset;
    return position_;
}

platform::Result<int64_t> AlignedStream::read(void* buffer, int64_t count) {
    if (count <= 0) return int64_t(0);
    if (aligned(position_, count, buffer)) {
        const auto pos = inner_->seek(position_, platform::SeekOrigin::Begin);
        if (!pos) return pos.error();
        auto n = inner_->read(buffer, count);
        if (n) position_ += *n;
        return n;
    }
    auto* out = static_cast<char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t pos = position_ + done;
        const int64_t start = roundDown(pos, sector_), skip = pos - start;
        const int64_t span = std::min(roundUp(skip + count - done, sector_), bounceSize_);
        const auto n = readSectors(start, span);
        if (!n) {
            if (done > 0) break; // the error shows again on the next call
            return n.error();
        }
        const int64_t take = std::min(*n - skip, count - done);
        if (take <= 0) break;
        std::memcpy(out + done, bounce_.get() + skip, size_t(take));
        done += take;
        if (*n < span) break; // the device ends here
    }
    position_ += done;
    return done;
}

platform::Result<int64_t> AlignedStream::write(const void* buffer, int64_t count) {
    if (count <= 0) return int64_t(0);
    if (aligned(position_, count, buffer)) {
        const auto pos = inner_->seek(position_, platform::SeekOrigin::Begin);
        if (!pos) return pos.error();
        auto n = inner_->write(buffer, count);
        if (n) position_ += *n;
        return n;
    }
    const auto* in = static_cast<const char*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t pos = position_ + done;
        const int64_t start = roundDown(pos, sector_), skip = pos - start;
        const int64_t span = std::min(roundUp(skip + count - done, sector_), bounceSize_);
        const int64_t take = std::min(span - skip, count - done);
        // Sectors the write covers only in part keep their other bytes: read them first.
        const bool partialHead = skip > 0;
        const bool partialTail = (skip + take) % sector_ != 0;
        if (partialHead || partialTail) {
            if (partialHead || span == sector_) {
                const auto n = readSectors(start, sector_);
                if (!n || *n != sector_)
                    return done > 0 ? platform::Result<int64_t>(done) : platform::errnoError(EIO);
            }
            if (partialTail && span > sector_) {
                const auto pos2 = inner_->seek(start + span - sector_, platform::SeekOrigin::Begin);
                const auto n = pos2 ? inner_->read(bounce_.get() + span - sector_, sector_)
                                    : platform::Result<int64_t>(int64_t(0));
                if (!n || *n != sector_)
                    return done > 0 ? platform::Result<int64_t>(done) : platform::errnoError(EIO);
            }
        }
        std::memcpy(bounce_.get() + skip, in + done, size_t(take));
        const auto n = writeSectors(start, span);
        if (!n || *n < span) {
            // What reached the device of the bytes asked for, in order.
            const int64_t wrote = n ? std::clamp<int64_t>(*n - skip, 0, take) : 0;
            done += wrote;
            if (done == 0 && !n) return n.error();
            break;
        }
        done += take;
    }
    position_ += done;
    return done;
}

} // namespace jobs
