#include "inspect/bytemap.h"

#include "core/aligned_buffer.h"
#include "core/selection.h"
#include "inspect/byte_classes.h"
#include "jobs/range_job.h"
#include "platform/platform.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace bytemap {
namespace {

constexpr int64_t kMiB = 1 << 20;

int64_t saturatedAdd(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? INT64_MAX : INT64_MIN;
}

std::string hex8(int64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(value));
    return text;
}

// A short read ends the drawing where reads of 4 pixels would have ended it: the bytes are taken
// in blocks that divide such a read, and a block that comes back short is not drawn. A block stays
// small enough to be read again alone: 2048 x d bytes, d the largest divisor of S up to 512
// (1 MiB).
int64_t blockFor(int sectorsPerPixel) {
    int d = std::min(sectorsPerPixel, 512);
    while (sectorsPerPixel % d != 0)
        --d;
    return int64_t(kGroup) * kSector * d;
}

// Reads the drawing's bytes on one thread per handle, each through its own handle, in pieces that
// the threads take in turn, and counts every sector of a piece on the thread that read it, while
// the bytes are still in that core's cache. The drawing then only adds up counts, in order, as
// the pieces come. Reading a cached file is a copy at memory speed that takes a core; a device
// read past the cache answers two requests sooner than one after the other: either way two
// readers finish sooner, and no bytes travel between the threads, only their counts.
class ParallelCounter {
public:
    struct Piece {
        const inspect::ByteCounts* sectors; // the counts of each of its sectors
        int64_t bytes;                      // whole blocks only
        bool last;                          // nothing follows it: the end, or a short block
    };

    // Reads `size` bytes from `start` in pieces of `piece` bytes (whole blocks), up to `ahead`
    // pieces ahead of the one the drawing takes.
    ParallelCounter(const std::vector<platform::RawStream*>& handles, int64_t start, int64_t size,
                    int64_t block, int64_t piece, int ahead)
        : start_(start), size_(size), block_(block), piece_(piece),
          slots_(size_t(ahead), Slot{std::vector<inspect::ByteCounts>(size_t(piece / kSector)), -1, 0}) {
        readers_ = int(handles.size());
        for (auto* handle : handles) {
            try {
                threads_.emplace_back([this, handle] { readPieces(*handle); });
            } catch (const std::system_error&) {
                // The readers that started read on; with none, nothing is drawn.
                std::lock_guard lock(mutex_);
                --readers_;
            }
        }
    }
    ~ParallelCounter() {
        abandon();
        for (auto& thread : threads_)
            thread.join();
    }
    ParallelCounter(const ParallelCounter&) = delete;
    ParallelCounter& operator=(const ParallelCounter&) = delete;

    // The next piece in order, once it is read and counted; nothing while it is not there after
    // `wait`, nor after the last piece. It stays valid until release().
    std::optional<Piece> next(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        const int64_t index = taken_;
        auto& slot = slots_[size_t(index) % slots_.size()];
        if (!changed_.wait_for(lock, wait, [&] { return slot.index == index || finishedLocked(); }) ||
            slot.index != index)
            return std::nullopt;
        const bool last = slot.bytes < std::min(piece_, size_ - index * piece_) || index == lastIndex_ ||
                          (index + 1) * piece_ >= size_;
        return Piece{slot.sectors.data(), slot.bytes, last};
    }
    // No piece comes any more: the last was taken, or no reader is left.
    bool finished() {
        std::lock_guard lock(mutex_);
        return finishedLocked();
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            ++taken_;
        }
        changed_.notify_all();
    }

    // Once the drawing stops, the readers end after the read they are in.
    void abandon() {
        {
            std::lock_guard lock(mutex_);
            abandoned_ = true;
        }
        changed_.notify_all();
    }

private:
    struct Slot {
        std::vector<inspect::ByteCounts> sectors;
        int64_t index; // the piece it holds, once counted; -1 before
        int64_t bytes;
    };

    bool finishedLocked() const {
        const int64_t index = taken_;
        return index * piece_ >= size_ || index > lastIndex_ ||
               (readers_ == 0 && slots_[size_t(index) % slots_.size()].index != index);
    }

    void readPieces(platform::RawStream& stream) {
        // However the reader ends, the drawing learns that one reader fewer is left.
        struct Leave {
            ParallelCounter& counter;
            ~Leave() {
                {
                    std::lock_guard lock(counter.mutex_);
                    --counter.readers_;
                }
                counter.changed_.notify_all();
            }
        } leave{*this};
        aligned::Buffer<char> buffer;
        try {
            buffer = aligned::allocate(4096, size_t(piece_));
        } catch (const std::bad_alloc&) {
            return; // the other handle's reader goes on; with none, the drawing ends here
        }
        for (;;) {
            int64_t index = 0;
            {
                std::unique_lock lock(mutex_);
                index = claimed_++;
                // Its slot is free once the drawing took the piece `ahead` before it.
                changed_.wait(lock, [&] {
                    return abandoned_ || index > lastIndex_ || index - taken_ < int64_t(slots_.size());
                });
                if (abandoned_ || index * piece_ >= size_ || index > lastIndex_) return;
            }
            const int64_t at = index * piece_, want = std::min(piece_, size_ - at);
            const int64_t bytes = readWholeBlocks(stream, at, buffer.get(), want);
            auto& slot = slots_[size_t(index) % slots_.size()];
            inspect::countPieces(reinterpret_cast<const uint8_t*>(buffer.get()), size_t(bytes / kSector),
                                 size_t(kSector), slot.sectors.data());
            {
                std::lock_guard lock(mutex_);
                slot.index = index;
                slot.bytes = bytes;
                if (bytes < want) lastIndex_ = std::min(lastIndex_, index);
            }
            changed_.notify_all();
            if (bytes < want) return;
        }
    }

    // Reads `want` bytes at `at` (from the start) in one request. One that comes back short or
    // fails is read again block by block from the last whole block it gave, so the drawing ends
    // at the block where reads of single blocks would have ended it. The whole blocks read.
    int64_t readWholeBlocks(platform::RawStream& stream, int64_t at, char* buffer, int64_t want) {
        const auto readAt = [&](int64_t from, int64_t count) -> int64_t {
            const int64_t where = start_ + at + from;
            if (stream.seek(where, platform::SeekOrigin::Begin).valueOr(-1) != where) return 0;
            return stream.read(buffer + from, count).valueOr(0);
        };
        const int64_t n = readAt(0, want);
        if (n == want) return n;
        int64_t done = std::max<int64_t>(n, 0) / block_ * block_;
        while (done < want && readAt(done, block_) == block_)
            done += block_;
        return done;
    }

    const int64_t start_, size_, block_, piece_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Slot> slots_;
    int64_t claimed_ = 0;           // the next piece a reader takes
    int64_t taken_ = 0;             // the next piece the drawing takes
    int64_t lastIndex_ = INT64_MAX; // the piece that came back short, after which none counts
    bool abandoned_ = false;
    int readers_ = 0;
    std::vector<std::thread> threads_; // last: started once everything they use exists
};

// Turns the sectors' counts, in order, into pixels of S sectors each. Pixels are set 4 at a time,
// as they were read: a group that the data did not fill is not drawn.
class PixelAssembler {
public:
    PixelAssembler(Image& image, int sectorsPerPixel)
        : image_(image), sectorsPerPixel_(sectorsPerPixel), pixelBytes_(pixelBytes(sectorsPerPixel)),
          shift_(std::has_single_bit(unsigned(sectorsPerPixel))
                     ? std::countr_zero(unsigned(sectorsPerPixel)) + 1
                     : -1) {}

    int64_t pixelsDrawn() const { return pixel_; }
    int64_t sectorsTaken() const { return sectors_; }

    void add(const inspect::ByteCounts& counts) {
        ++sectors_;
        text_ += counts.text;
        empty_ += counts.empty;
        if (++inPixel_ < sectorsPerPixel_) return;
        group_[groupFill_++] = colour();
        inPixel_ = text_ = empty_ = 0;
        if (groupFill_ < kGroup) return;
        for (int i = 0; i < kGroup; ++i, ++pixel_)
            image_.set(int(pixel_ % kWidth), int(pixel_ / kWidth), group_[i]);
        groupFill_ = 0;
    }

private:
    // colourOfCounts of the pixel just counted. At S = 1 this runs for every sector, where a
    // division would cost about as much as the counting: a power of two divides by a shift.
    Rgb colour() const {
        if (shift_ < 0) return colourOfCounts(text_, empty_, pixelBytes_ - text_ - empty_, sectorsPerPixel_);
        const auto scaled = [&](int64_t count) {
            return uint8_t((count - (count == pixelBytes_)) >> shift_);
        };
        return Rgb{scaled(text_), scaled(pixelBytes_ - text_ - empty_), scaled(empty_)};
    }

    Image& image_;
    const int sectorsPerPixel_;
    const int64_t pixelBytes_;
    const int shift_; // log2(2 x S) where S is a power of two, else -1
    int64_t sectors_ = 0;
    int64_t pixel_ = 0;   // pixels drawn
    int64_t inPixel_ = 0; // sectors of the pixel being counted
    int64_t text_ = 0, empty_ = 0;
    Rgb group_[kGroup];
    int groupFill_ = 0;
};

uint32_t packed(Rgb c) {
    return 0xFF000000u | uint32_t(c.red) << 16 | uint32_t(c.green) << 8 | c.blue;
}

} // namespace

int clampSectorsPerPixel(int sectorsPerPixel) {
    return std::clamp(sectorsPerPixel, kMinSectorsPerPixel, kMaxSectorsPerPixel);
}

Rgb colourOfCounts(int64_t text, int64_t empty, int64_t other, int sectorsPerPixel) {
    const int64_t all = pixelBytes(sectorsPerPixel);
    // A class holding every byte counts one less, so no value reaches 256.
    const auto scaled = [&](int64_t count) {
        return uint8_t((count == all ? count - 1 : count) / (2 * sectorsPerPixel));
    };
    return Rgb{scaled(text), scaled(other), scaled(empty)};
}

Rgb pixelColour(const uint8_t* data, int sectorsPerPixel) {
    const int64_t all = pixelBytes(sectorsPerPixel);
    const auto counts = inspect::countClasses(data, size_t(all));
    return colourOfCounts(counts.text, counts.empty, counts.other(all), sectorsPerPixel);
}

int rowCount(int64_t size, int sectorsPerPixel) {
    if (size <= 0) return 0;
    return int(std::min<int64_t>(size / (pixelBytes(sectorsPerPixel) * kWidth), kMaxRows));
}

int64_t offsetFromText(const std::string& text) {
    try {
        return selection::parseInteger(text, false);
    } catch (const std::exception&) {
        return 0;
    }
}

int64_t positionAt(int64_t offset, int x, int y, int sectorsPerPixel) {
    const int64_t pixel = int64_t(y) * kWidth + x;
    return saturatedAdd(offset, pixel * pixelBytes(sectorsPerPixel));
}

Readouts readouts(int64_t offset, int x, int y, int sectorsPerPixel) {
    const int64_t pixel = int64_t(y) * kWidth + x;
    const int64_t relative = pixel * pixelBytes(sectorsPerPixel);
    return {hex8(saturatedAdd(offset / kSector, pixel * sectorsPerPixel)),
            hex8(saturatedAdd(offset, relative)), hex8(relative)};
}

// --- Image ----------------------------------------------------------------------------------

void Image::reset(int rows) {
    rows = std::clamp(rows, 0, kMaxRows);
    try {
        pixels_.assign(size_t(rows) * kWidth, packed(kWhite));
        rows_ = rows;
    } catch (const std::bad_alloc&) {
        // The drawing goes on without an image, as a failed resize leaves it.
        pixels_.clear();
        rows_ = 0;
    }
}

Rgb Image::at(int x, int y) const {
    if (x < 0 || x >= kWidth || y < 0 || y >= rows_) return kWhite;
    const uint32_t p = pixels_[size_t(y) * kWidth + size_t(x)];
    return Rgb{uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
}

void Image::set(int x, int y, Rgb colour) {
    if (x < 0 || x >= kWidth || y < 0 || y >= rows_) return;
    pixels_[size_t(y) * kWidth + size_t(x)] = packed(colour);
}

// --- Map ------------------------------------------------------------------------------------

Map::Map(platform::Backend& backend, TFileInfo file) : backend_(backend), file_(std::move(file)) {}

DrawReport Map::draw(Dialogs& dialogs, JobControl& job, Canvas& canvas, int sectorsPerPixel) {
    DrawReport report;
    if (drawing_) return report;
    const int s = clampSectorsPerPixel(sectorsPerPixel);
    const int64_t start = file_.Offset;

    jobs::RangeJob range(backend_, dialogs, job, jobs::RangeJob::Busy::No);
    // Past the system's cache on a block device, as the transfers read: a map of a whole disk
    // would push everything else out of it.
    auto stream = range.open(file_, platform::OpenMode::Read, "Failed to open " + file_.Description, true);
    if (!stream) return report;
    if (!range.position(*stream, start, "Seek failed, data position unreliable")) return report;
    report.started = true;

    drawing_ = true;
    drawn_ = true;
    report.rows = rowCount(file_.Size, s);
    image_.reset(report.rows);
    canvas.resized();
    range.offerStop(); // clears an earlier stop request
    canvas.drawingChanged();

    // Never past start offset + Size: the rows cover at most that much.
    const int64_t size = int64_t(report.rows) * kWidth * pixelBytes(s);
    const int64_t block = blockFor(s);
    // A cached file is read in pieces that stay in a core's cache until they are counted; a
    // device read past the cache in larger requests, fewer of them. (A device answers the disk
    // queries; the map always opens it past the cache.)
    const bool device = stream->geometry().ok();
    const int64_t piece =
        (std::max<int64_t>(device ? 2 * kMiB : kMiB / 2, block) + block - 1) / block * block;
    // The second handle, where the system gives one and it is what the first is (the name may
    // lead elsewhere by now); without it the drawing reads through the first alone.
    auto second = range.open(
        file_, platform::OpenMode::Read, [](const platform::Error&) {}, true);
    if (second && second->fingerprint() != stream->fingerprint()) second.reset();
    std::vector<platform::RawStream*> handles{stream.get()};
    if (second) handles.push_back(second.get());

    PixelAssembler pixels(image_, s);
    int64_t total = 0;
    bool stopped = false;
    {
        ParallelCounter counter(handles, start, size, block, piece,
                                int(std::max<int64_t>(8 * kMiB / piece, 4)));
        // Events run every 64 pixels, and at least every MiB where a pixel is larger than that;
        // Stop is honoured at each of them, so a drawing at S = 65536 stops within a second.
        const int64_t pumpSectors = std::min<int64_t>(kPumpPixels * s, kMiB / kSector);
        const auto pump = [&] {
            job.progress({total, size, jobs::percentOf(total, size), ""});
            job.pump();
            stopped = job.stopRequested();
            if (stopped) counter.abandon();
            return !stopped;
        };
        int64_t untilPump = pumpSectors;
        bool going = true;
        while (going) {
            // A slow device: events run while the readers are at it.
            const auto next = counter.next(std::chrono::milliseconds(100));
            if (!next) {
                if (!counter.finished() && pump()) continue;
                break;
            }
            const int64_t firstPixel = pixels.pixelsDrawn();
            for (int64_t i = 0; i < next->bytes / kSector; ++i) {
                pixels.add(next->sectors[i]);
                if (--untilPump == 0) {
                    untilPump = pumpSectors;
                    total = pixels.sectorsTaken() * kSector;
                    if (!pump()) break;
                }
            }
            total = pixels.sectorsTaken() * kSector;
            if (pixels.pixelsDrawn() > firstPixel)
                canvas.drawn(int(firstPixel / kWidth), int((pixels.pixelsDrawn() - 1) / kWidth));
            going = !stopped && !next->last;
            counter.release();
        }
        report.pixels = pixels.pixelsDrawn();
    } // the reading threads end here, before the handles they read close
    job.progress({total, size, jobs::percentOf(total, size), ""});
    second.reset();
    stream.reset();

    report.stopped = stopped;
    report.dataEnded = !stopped && total < size;
    range.withdrawStop();
    drawing_ = false;
    canvas.drawingChanged();
    return report;
}

DrawReport Map::forward(Dialogs& dialogs, JobControl& job, Canvas& canvas, int sectorsPerPixel) {
    if (drawing_) return {};
    file_.Offset = saturatedAdd(file_.Offset, forwardStep(clampSectorsPerPixel(sectorsPerPixel)));
    return draw(dialogs, job, canvas, sectorsPerPixel);
}

void Map::press(const std::string& offsetText, int x, int y, int sectorsPerPixel) {
    clicked_ = file_;
    clicked_->Offset = positionAt(offsetFromText(offsetText), x, y, clampSectorsPerPixel(sectorsPerPixel));
}

std::optional<TFileInfo> Map::doubleClickTarget() const {
    if (drawing_) return std::nullopt;
    return clicked_;
}

} // namespace bytemap
