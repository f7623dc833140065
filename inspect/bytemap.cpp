#include "inspect/bytemap.h"

#include "core/selection.h"
#include "inspect/byte_classes.h"
#include "jobs/block_engine.h"
#include "jobs/range_job.h"
#include "jobs/side_thread.h"
#include "jobs/stream_adapter.h"
#include "platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
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

// The block engine hands on the drawing's bytes in the loop's blocks: a block must divide a read
// of 4 pixels, so that a short read ends the drawing where the 4-pixel reads would have ended it,
// and stay small enough to keep the buffers in memory: 2048 x d bytes, d the largest divisor of S
// up to 512 (1 MiB).
int64_t blockFor(int sectorsPerPixel) {
    int d = std::min(sectorsPerPixel, 512);
    while (sectorsPerPixel % d != 0)
        --d;
    return int64_t(kGroup) * kSector * d;
}

// The drawing's source. It counts the classes of every sector it reads as soon as it has read it,
// on the thread that read it and while the bytes are still in that core's cache, so the drawing
// never goes over them again. With a second handle of the same selection, a read larger than
// `single` bytes is read in two halves at once, the second half (read and counted) on a helper
// thread: reading a cached file is a copy that takes a core at memory speed, and a device read
// past the cache answers two requests sooner than one after the other. Reads of up to `single`
// bytes (the drawing's own blocks, into which the block engine breaks a large read that came back
// short) are the first handle's alone, so where a drawing ends is that handle's own answer.
class CountingSource final : public jobs::StreamAdapter {
public:
    // start: where the drawing begins; sectors: how many sectors' counts are kept, at least as
    // many as the block engine has in flight.
    CountingSource(platform::RawStream& first, platform::RawStream* second, int64_t start, int64_t single,
                   int64_t sectors)
        : first_(first), second_(second), start_(start), single_(single), counts_(size_t(sectors)),
          helper_([this](const char* data, int64_t size) {
              // The helper fills the buffer it is handed; the side thread passes it on as const.
              const auto at = second_->seek(tailAt_, platform::SeekOrigin::Begin);
              if (!at || *at != tailAt_)
                  tail_ = at ? platform::errnoError(ESPIPE) : at.error();
              else
                  tail_ = readCounted(*second_, tailAt_, const_cast<char*>(data), size);
          }) {}

    // The counts of the sector `index` (from the start), as it was read last.
    const inspect::ByteCounts& sector(int64_t index) const { return counts_[size_t(index) % counts_.size()]; }

    // Once the drawing stops, every read fails: the reading threads end after the piece they are
    // on, not after a whole buffer.
    void abandon() { abandoned_ = true; }

    platform::Result<int64_t> read(void* buffer, int64_t count) override {
        constexpr int64_t kPage = 4096; // keeps both halves aligned for a device read past the cache
        const auto at = first_.position();
        if (!at) return at.error();
        auto* bytes = static_cast<char*>(buffer);
        const int64_t half = count / 2 / kPage * kPage;
        if (!second_ || count <= single_ || half == 0) return readCounted(first_, *at, bytes, count);
        tailAt_ = *at + half;
        helper_.post(bytes + half, count - half);
        const auto head = readCounted(first_, *at, bytes, half);
        helper_.wait();
        if (!head || *head < half) return head;
        // The second half counts once the first handle stands behind it; else the read ends short
        // where the first handle stands.
        const int64_t tail = tail_.valueOr(0);
        const int64_t end = *at + half + tail;
        if (tail <= 0 || first_.seek(end, platform::SeekOrigin::Begin).valueOr(-1) != end) return half;
        return half + tail;
    }
    platform::Result<int64_t> seek(int64_t offset, platform::SeekOrigin origin) override {
        return first_.seek(offset, origin);
    }
    platform::Result<int64_t> position() override { return first_.position(); }
    platform::Result<int64_t> length() override { return first_.length(); }
    int64_t alignment() override { return first_.alignment(); }

private:
    // Reads `count` bytes from where `stream` stands (`at`) in pieces that stay in the cache until
    // they are counted; like one read, it ends at the first piece that fails or comes back short.
    platform::Result<int64_t> readCounted(platform::RawStream& stream, int64_t at, char* bytes,
                                          int64_t count) {
        constexpr int64_t kPiece = 1 << 20;
        int64_t done = 0;
        while (done < count) {
            if (abandoned_)
                return done > 0 ? platform::Result<int64_t>(done) : platform::errnoError(ECANCELED);
            const int64_t want = std::min(kPiece, count - done);
            const auto n = stream.read(bytes + done, want);
            if (!n) return done > 0 ? platform::Result<int64_t>(done) : n;
            this->count(at + done, bytes + done, *n);
            done += *n;
            if (*n < want) break;
        }
        return done;
    }

    // The whole sectors of `size` bytes read at `at`. A read that does not begin on a sector of
    // the drawing follows a short one, which ended the drawing: nothing of it is drawn.
    void count(int64_t at, const char* data, int64_t size) {
        if ((at - start_) % kSector != 0) return;
        const int64_t first = (at - start_) / kSector;
        for (int64_t done = 0; done < size / kSector;) {
            // Up to the end of the ring of counts, then on from its start.
            const auto slot = size_t(first + done) % counts_.size();
            const int64_t n = std::min(size / kSector - done, int64_t(counts_.size() - slot));
            inspect::countPieces(reinterpret_cast<const uint8_t*>(data) + done * kSector, size_t(n),
                                 size_t(kSector), &counts_[slot]);
            done += n;
        }
    }

    platform::RawStream& first_;
    platform::RawStream* second_;
    int64_t start_;
    int64_t single_;
    std::vector<inspect::ByteCounts> counts_;
    int64_t tailAt_ = 0;
    platform::Result<int64_t> tail_ = int64_t(0);
    std::atomic<bool> abandoned_ = false;
    jobs::detail::SideThread helper_; // last: started once everything it uses exists
};

// Takes the drawing's bytes in order and turns every S x 512 of them into a pixel, from the
// counts the source took of each sector, or (without such a source) from the bytes it is handed,
// counted here. Pixels are set 4 at a time, as they were read: a group that the data did not fill
// is not drawn.
class PixelSink final : public jobs::StreamAdapter {
public:
    PixelSink(const CountingSource* source, Image& image, Canvas& canvas, int sectorsPerPixel)
        : source_(source), image_(image), canvas_(canvas), sectorsPerPixel_(sectorsPerPixel),
          pixelBytes_(pixelBytes(sectorsPerPixel)) {}

    int64_t pixelsDrawn() const { return pixel_; }

    // The engine hands on whole blocks, so `count` is whole sectors.
    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        const int64_t firstPixel = pixel_;
        if (!source_) {
            scratch_.resize(size_t(count / kSector));
            inspect::countPieces(static_cast<const uint8_t*>(buffer), scratch_.size(), size_t(kSector),
                                 scratch_.data());
        }
        const int64_t base = consumed_ / kSector;
        for (int64_t sector = base, end = (consumed_ + count) / kSector; sector < end; ++sector) {
            const auto& counts = source_ ? source_->sector(sector) : scratch_[size_t(sector - base)];
            text_ += counts.text;
            empty_ += counts.empty;
            if (++inPixel_ < sectorsPerPixel_) continue;
            group_[groupFill_++] =
                colourOfCounts(text_, empty_, pixelBytes_ - text_ - empty_, sectorsPerPixel_);
            inPixel_ = text_ = empty_ = 0;
            if (groupFill_ < kGroup) continue;
            for (int i = 0; i < kGroup; ++i, ++pixel_)
                image_.set(int(pixel_ % kWidth), int(pixel_ / kWidth), group_[i]);
            groupFill_ = 0;
        }
        consumed_ += count;
        if (pixel_ > firstPixel) canvas_.drawn(int(firstPixel / kWidth), int((pixel_ - 1) / kWidth));
        return count;
    }
    platform::Result<int64_t> position() override { return consumed_; }

private:
    const CountingSource* source_;
    std::vector<inspect::ByteCounts> scratch_; // the counts of a write's sectors, without a source
    Image& image_;
    Canvas& canvas_;
    int sectorsPerPixel_;
    int64_t pixelBytes_;
    int64_t consumed_ = 0;
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
    blocks::Plan plan;
    plan.size = int64_t(report.rows) * kWidth * pixelBytes(s);
    plan.block = blockFor(s);
    plan.wholeBlocks = false;
    // A device read past the cache waits on the medium: it is read through two handles at once
    // and counted as it comes, in large buffers, few of them (every hand-over between threads
    // costs a wake-up; each buffer is read and counted a MiB at a time, so its size costs no
    // cache). A file in the cache is a copy at memory speed: one thread reads while this one
    // counts what came before, which keeps both cores on it. (A device answers the disk queries;
    // the map always opens it past the cache.)
    const bool device = stream->geometry().ok();
    plan.buffer = std::max<int64_t>(device ? 4 * kMiB : kMiB, plan.block);
    plan.buffers = device ? 3 : 4;
    plan.shortBlockEnds = true;

    // The second handle, where the system gives one; without it the drawing reads through the
    // first alone.
    std::unique_ptr<platform::RawStream> second;
    if (device)
        second = range.open(
            file_, platform::OpenMode::Read, [](const platform::Error&) {}, true);
    // The counts of every sector the block engine may hold in its buffers, twice over.
    const int64_t inFlight = int64_t(plan.buffers + 1) * std::max(plan.buffer, plan.block) / kSector * 2;
    blocks::Outcome moved;
    bool stopped = false;
    {
        std::optional<CountingSource> counting;
        if (device) counting.emplace(*stream, second.get(), start, plan.block, inFlight);
        PixelSink sink(counting ? &*counting : nullptr, image_, canvas, s);
        int64_t pumpedPixels = 0, pumpedBytes = 0;
        blocks::Callbacks callbacks;
        callbacks.afterBlock = [&](int64_t total) {
            // Events run every 64 pixels, and at least every MiB where a pixel is larger than that;
            // Stop is honoured at each of them, so a drawing at S = 65536 stops within a second.
            const int64_t pixelsRead = total / pixelBytes(s);
            if (pixelsRead / kPumpPixels == pumpedPixels / kPumpPixels && total - pumpedBytes < kMiB)
                return true;
            pumpedPixels = pixelsRead;
            pumpedBytes = total;
            job.progress({total, plan.size, jobs::percentOf(total, plan.size), ""});
            job.pump();
            stopped = job.stopRequested();
            if (stopped && counting) counting->abandon();
            return !stopped;
        };
        callbacks.waiting = [&] {
            job.pump();
            stopped = job.stopRequested();
            if (stopped && counting) counting->abandon();
            return !stopped;
        };
        moved = blocks::run(counting ? static_cast<platform::RawStream&>(*counting) : *stream, sink, plan,
                            callbacks);
        report.pixels = sink.pixelsDrawn();
    } // the helper thread ends here, before the handles it reads close
    job.progress({moved.total, plan.size, jobs::percentOf(moved.total, plan.size), ""});
    second.reset();
    stream.reset();

    report.stopped = stopped || moved.stopped;
    report.dataEnded = !report.stopped && moved.total < plan.size;
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
