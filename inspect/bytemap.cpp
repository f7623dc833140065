#include "inspect/bytemap.h"

#include "core/selection.h"
#include "inspect/byte_classes.h"
#include "jobs/block_engine.h"
#include "jobs/range_job.h"
#include "jobs/stream_adapter.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>

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

// Takes the drawing's bytes in order and turns every S x 512 of them into a pixel. Pixels are
// set 4 at a time, as they were read: a group that the data did not fill is not drawn.
class PixelSink final : public jobs::StreamAdapter {
public:
    PixelSink(Image& image, Canvas& canvas, int sectorsPerPixel)
        : image_(image), canvas_(canvas), sectorsPerPixel_(sectorsPerPixel),
          pixelBytes_(pixelBytes(sectorsPerPixel)) {}

    int64_t pixelsDrawn() const { return pixel_; }

    platform::Result<int64_t> write(const void* buffer, int64_t count) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        const int64_t firstPixel = pixel_;
        for (int64_t left = count; left > 0;) {
            const int64_t take = std::min(left, pixelBytes_ - inPixel_);
            const auto counts = inspect::countClasses(p, size_t(take));
            text_ += counts.text;
            empty_ += counts.empty;
            inPixel_ += take;
            p += take;
            left -= take;
            if (inPixel_ < pixelBytes_) continue;
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
    Image& image_;
    Canvas& canvas_;
    int sectorsPerPixel_;
    int64_t pixelBytes_;
    int64_t consumed_ = 0;
    int64_t pixel_ = 0; // pixels drawn
    int64_t inPixel_ = 0, text_ = 0, empty_ = 0;
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
    plan.buffer = std::max<int64_t>(kMiB, plan.block);
    plan.buffers = 4;
    plan.shortBlockEnds = true;

    PixelSink sink(image_, canvas, s);
    int64_t pumpedPixels = 0, pumpedBytes = 0;
    bool stopped = false;
    blocks::Callbacks callbacks;
    callbacks.afterBlock = [&](int64_t total) {
        // Events run every 64 pixels, and at least every MiB where a pixel is larger than that;
        // Stop is honoured at each of them, so a drawing at S = 65536 stops within a second.
        const int64_t pixelsRead = total / pixelBytes(s);
        if (pixelsRead / kPumpPixels == pumpedPixels / kPumpPixels && total - pumpedBytes < kMiB) return true;
        pumpedPixels = pixelsRead;
        pumpedBytes = total;
        job.progress({total, plan.size, jobs::percentOf(total, plan.size), ""});
        job.pump();
        stopped = job.stopRequested();
        return !stopped;
    };
    callbacks.waiting = [&] {
        job.pump();
        stopped = job.stopRequested();
        return !stopped;
    };
    const auto moved = blocks::run(*stream, sink, plan, callbacks);
    job.progress({moved.total, plan.size, jobs::percentOf(moved.total, plan.size), ""});
    stream.reset();

    report.pixels = sink.pixelsDrawn();
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
