#include "speed/speed.h"

#include "core/aligned_buffer.h"
#include "core/random.h"
#include "jobs/range_job.h"
#include "platform/platform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace speed {
namespace {

// Direct I/O reads into page-aligned memory.
aligned::Buffer<char> alignedBuffer(int64_t bytes) {
    return aligned::allocate(4096, size_t(bytes));
}

long long nearest(double v) {
    return std::llrint(v);
}

std::string openFailure(const TFileInfo& sel) {
    return "Failed to open " + sel.Description + " for reading";
}

Result resultOf(Outcome outcome) {
    Result result;
    result.outcome = outcome;
    return result;
}

// The selection, open for measuring. A file is read through the system's cache: what it held of
// the file goes first, so that the medium is measured rather than memory (a device is read past
// the cache anyway).
std::unique_ptr<platform::RawStream> openToMeasure(jobs::RangeJob& range, const TFileInfo& sel,
                                                   const Options& options) {
    auto stream = range.open(sel, platform::OpenMode::Read, openFailure(sel), options.direct);
    if (stream) (void)stream->dropCache();
    return stream;
}

} // namespace

const char* const kTooSmallMessage =
    "The speed test needs a selection of more than 64 MiB (67108864 bytes): nothing was measured.";

const char* seriesTitle(Series series) {
    switch (series) {
    case Series::Speed:
        return "Actual speed";
    case Series::Average:
        return "Moving average";
    case Series::Peak:
        break;
    }
    return "";
}

int64_t readsPerSample(int64_t size) {
    return size <= 0 ? 0 : int64_t(std::nearbyint(double(size) / double(kSamplesWanted * kSampleBlock)));
}

Result speedTest(platform::Backend& backend, Dialogs& dialogs, JobControl& job, const TFileInfo& sel,
                 const Options& options) {
    jobs::RangeJob range(backend, dialogs, job, jobs::RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    auto stream = openToMeasure(range, sel, options);
    if (!stream) return resultOf(Outcome::Failed);
    const int64_t n = readsPerSample(sel.Size);
    if (n == 0) {
        stream.reset();
        dialogs.message(kTooSmallMessage);
        return resultOf(Outcome::NotStarted);
    }
    const double end = double(sel.Size) / kMiB; // where the markers stand
    range.enterBusy();
    range.offerStop();
    {
        Sample marker;
        marker.total = sel.Size;
        marker.points.push_back({Series::Peak, end, 2000.0});
        job.progress(marker);
    }
    if (!range.position(*stream, sel.Offset, "Seek operation failed")) return resultOf(Outcome::Failed);

    const int64_t sampleBytes = n * kSampleBlock;
    const auto buffer = alignedBuffer(kSampleBlock);
    Clock& clock = job.clock();
    Result report = resultOf(Outcome::Completed);
    int64_t totalTime = 0, shortest = 9999999;
    double peak = 0;
    std::array<double, kAverageSlots> slots{};
    size_t oldest = 0;
    for (int64_t i = 0, at = 0; at <= sel.Size - sampleBytes; ++i, at += sampleBytes) {
        const int64_t t0 = clock.nowMs();
        bool whole = true;
        for (int64_t k = 0; k < n && whole; ++k) {
            const auto got = stream->read(buffer.get(), kSampleBlock);
            whole = got && *got == kSampleBlock;
        }
        int64_t t = clock.nowMs() - t0;
        if (t <= 0) t = 1;
        // A sample that could not be read whole ends the test; the results so far stand.
        if (!whole) break;
        totalTime += t;
        ++report.samples;
        report.bytes += sampleBytes;
        shortest = std::min(shortest, t);
        const double speed = double(sampleBytes) / double(t);

        Sample s;
        s.measured = true;
        s.index = i;
        s.position = double(at) / kMiB;
        s.value = speed;
        s.bytes = at + sampleBytes;
        s.total = sel.Size;
        s.percent = jobs::percentOf(s.bytes, sel.Size);
        if (peak + 100 < speed) {
            peak = speed;
            s.points.push_back({Series::Peak, end, speed + 200});
        }
        // The first three samples are measured and counted but not drawn.
        if (i > 2) s.points.push_back({Series::Speed, s.position, speed});
        double average = speed;
        if (i == 0) {
            slots.fill(speed);
        } else {
            slots[oldest] = speed;
            oldest = (oldest + 1) % slots.size();
            double sum = 0;
            for (const double v : slots)
                sum += v;
            average = sum / kAverageSlots;
        }
        // Each average stands at the middle of its window.
        if (i >= 32) s.points.push_back({Series::Average, double(at - 15 * sampleBytes) / kMiB, average});
        const double done = double(sampleBytes) * double(report.samples);
        char text[160];
        std::snprintf(text, sizeof text, "Average: %lld kb/s (%lld Mb/s)", nearest(done / double(totalTime)),
                      nearest(done / (double(totalTime) * 1024.0)));
        s.average = text;
        std::snprintf(text, sizeof text, "Maximum: %lld kb/s",
                      nearest(double(sampleBytes) / double(shortest)));
        s.maximum = text;
        job.progress(s);
        job.pump();
        if (job.stopRequested()) {
            report.outcome = Outcome::Incomplete;
            break;
        }
    }
    return report;
}

Result seekTest(platform::Backend& backend, Dialogs& dialogs, JobControl& job, const TFileInfo& sel,
                const Options& options) {
    jobs::RangeJob range(backend, dialogs, job, jobs::RangeJob::Busy::Yes);
    if (!range.checkRange(sel)) return {};
    auto stream = openToMeasure(range, sel, options);
    if (!stream) return resultOf(Outcome::Failed);
    range.enterBusy();
    range.offerStop();
    Clock& clock = job.clock();
    prng::SplitMix64 random(prng::seedFrom(clock.nowMs()));

    // 64 bits: a selection beyond 8 TiB is reached everywhere.
    const int64_t blocks = sel.Size / kSeekBlock;
    const auto buffer = alignedBuffer(kSeekBlock);
    Result report = resultOf(Outcome::Completed);
    int64_t totalTime = 0;
    for (int i = 0; i < kSeekAccesses; ++i) {
        const int64_t r = blocks > 0 ? int64_t(random.next() % uint64_t(blocks)) : 0;
        const int64_t position = r * kSeekBlock + sel.Offset;
        clock.sleepMs(0); // the rest of the time slice, so the access starts on a fresh one
        const int64_t t0 = clock.nowMs();
        int64_t got = 0;
        if (stream->seek(position, platform::SeekOrigin::Begin).valueOr(-1) == position)
            got = stream->read(buffer.get(), kSeekBlock).valueOr(0);
        const int64_t t = clock.nowMs() - t0;
        // Told after the time is taken: the message box is not part of the access.
        if (got <= 0) dialogs.message("dumb2");
        totalTime += t;
        ++report.samples;
        if (got > 0) report.bytes += got;

        Sample s;
        s.measured = true;
        s.index = i;
        s.position = double(position) / kMiB;
        s.value = double(t);
        s.points.push_back({Series::Speed, s.position, double(t)});
        const long long percent = nearest(double(i) * 100.0 / kSeekAccesses);
        s.bytes = int64_t(i + 1) * kSeekBlock;
        s.total = kSeekAccesses * kSeekBlock;
        s.percent = int(percent);
        char text[96];
        std::snprintf(text, sizeof text, "Average: %.1f ms", double(totalTime) / double(report.samples));
        s.average = text;
        if (const auto dot = s.average.find('.'); dot != std::string::npos)
            s.average[dot] = options.decimalSeparator;
        std::snprintf(text, sizeof text, "%lld%% done", percent);
        s.maximum = text;
        job.progress(s);
        job.pump();
        clock.sleepMs(kSeekPause);
        if (job.stopRequested()) {
            report.outcome = Outcome::Incomplete;
            break;
        }
    }
    return report;
}

void ChartData::add(const Point& p) {
    series_[size_t(p.series)].emplace_back(p.x, p.y);
    if (!bounds_) {
        bounds_ = Bounds{p.x, p.x, p.y, p.y};
        return;
    }
    bounds_->minX = std::min(bounds_->minX, p.x);
    bounds_->maxX = std::max(bounds_->maxX, p.x);
    bounds_->minY = std::min(bounds_->minY, p.y);
    bounds_->maxY = std::max(bounds_->maxY, p.y);
}

int Axis::ticks() const {
    return int(std::lround((max - min) / step)) + 1;
}

std::string Axis::label(int i) const {
    double value = tick(i);
    if (std::abs(value) < step * 1e-6) value = 0; // a rounding error's "-0.0"
    char text[400];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

Axis niceAxis(double low, double high) {
    if (!std::isfinite(low) || !std::isfinite(high)) return {};
    if (high < low) std::swap(low, high);
    // Ticks closer than a double tells apart would print alike: no step below the values' own
    // precision (a few hundred times the spacing of doubles at their size).
    const double magnitude = std::max(std::abs(low), std::abs(high));
    const double finest = magnitude * 1e-13;
    if (high - low < finest * 8 || high == low) {
        const double pad = magnitude == 0 ? 1 : std::max(magnitude * 0.1, finest * 8);
        low -= pad;
        high += pad;
    }
    const double raw = (high - low) / 8; // about eight steps
    int exponent = int(std::floor(std::log10(raw)));
    const double fraction = raw / std::pow(10.0, exponent);
    int mantissa = fraction <= 1 ? 1 : fraction <= 2 ? 2 : 5;
    if (fraction > 5) {
        mantissa = 1;
        ++exponent;
    }
    const double step = mantissa * std::pow(10.0, exponent);
    // A step of 1, 2 or 5 at 10^-d needs d decimals, and no more, for neighbours to differ.
    Axis axis{std::floor(low / step) * step, std::ceil(high / step) * step, step, std::max(0, -exponent)};
    // A point on the last tick would be half outside the plot: one step more room above it.
    if (axis.max - high < step * 0.02) axis.max += step;
    return axis;
}

} // namespace speed
