#pragma once
// Speed and seek test: how fast a selection reads from its start in large sequential samples,
// and how long single 4096-byte reads at random places inside it take. Both only read, past the
// system's cache where the platform allows it, so they measure the device. Every measurement
// comes to the front end as a progress update carrying the chart points it adds and the result
// labels' texts. Plain C++, no Qt.

#include "core/fileinfo.h"
#include "core/job.h"
#include "core/report.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class Backend;
}

namespace speed {

inline constexpr int64_t kSampleBlock = 131072; // one read of the speed test
inline constexpr int64_t kSamplesWanted = 1024; // samples over a selection, about
inline constexpr int64_t kSeekBlock = 4096;     // one read of the seek test
inline constexpr int kSeekAccesses = 512;
inline constexpr int64_t kSeekPause = 50; // ms after every access
inline constexpr int kAverageSlots = 31;  // samples in the moving average
inline constexpr double kMiB = 1048576.0; // the unit of every position

inline constexpr const char* kCaption = "Test drive speed";
inline constexpr const char* kSpeedAxisCaption = "X-axis: speed (kB/s)";
inline constexpr const char* kSeekAxisCaption = "X-axis: seek time(ms)";
inline constexpr const char* kPositionCaption = "Y-axis: Position (MiB)";

// The chart's three series: measured speeds (and seek times), their moving average, and the
// markers that keep the vertical axis above the highest speed.
enum class Series { Speed = 0, Average = 1, Peak = 2 };
inline constexpr int kSeriesCount = 3;
// "Actual speed", "Moving average", and none for the markers.
const char* seriesTitle(Series series);

// Horizontal: MiB within the selection (speed test) or on the device (seek test).
struct Point {
    Series series = Series::Speed;
    double x = 0;
    double y = 0;
    bool operator==(const Point&) const = default;
};

// One measurement, or (measured false) the first marker of a speed test.
struct Sample : Progress {
    bool measured = false;
    int64_t index = 0;   // sample (speed test) or access (seek test) number, from 0
    double position = 0; // where it was read, in MiB (see Point)
    double value = 0;    // kB/s (bytes per millisecond) or milliseconds
    std::vector<Point> points;
    std::string average; // the labels' texts after it
    std::string maximum;
};

// NotStarted: the range was refused, or a selection of 64 MiB or less has no whole sample (which
// is said). Failed: the selection could not be opened or positioned. Incomplete: Stop.
// Completed: the test ran to its end, which for the speed test is the selection's last whole
// sample or a read that came back short (which ends it silently; the samples before it stand).
// `bytes` counts the bytes read: of the samples measured, or of the accesses.
using Outcome = ::Outcome;

struct Result : Report {
    int64_t samples = 0; // samples counted, or accesses made
};

struct Options {
    bool direct = true;          // read block devices past the system's cache
    char decimalSeparator = '.'; // in "Average: %.1f ms"
};

// Reads per sample: the size in units of 1024 blocks of 128 KiB, to the nearest integer (halves
// to even); 0 for 64 MiB or less.
int64_t readsPerSample(int64_t size);

// "The speed test needs a selection of more than 64 MiB." and the like.
extern const char* const kTooSmallMessage;

Result speedTest(platform::Backend& backend, Dialogs& dialogs, JobControl& job, const TFileInfo& selection,
                 const Options& options = {});
Result seekTest(platform::Backend& backend, Dialogs& dialogs, JobControl& job, const TFileInfo& selection,
                const Options& options = {});

// Every point a window holds, by series, with what the axes must span.
class ChartData {
public:
    void add(const Point& point);
    void add(const std::vector<Point>& points) {
        for (const auto& p : points)
            add(p);
    }
    const std::vector<std::pair<double, double>>& points(Series series) const {
        return series_[size_t(series)];
    }
    struct Bounds {
        double minX = 0, maxX = 0, minY = 0, maxY = 0;
    };
    // Nothing while the chart is empty.
    std::optional<Bounds> bounds() const { return bounds_; }

private:
    std::vector<std::pair<double, double>> series_[kSeriesCount];
    std::optional<Bounds> bounds_;
};

// An axis that spans [low, high] with round ticks (steps of 1, 2 or 5 times a power of ten), for
// the window's chart and the command line's image alike.
struct Axis {
    double min = 0;
    double max = 1;
    double step = 1;
    int decimals = 0;  // as many as tell each tick's label from its neighbours'
    int ticks() const; // tick marks including both ends
    double tick(int i) const { return min + i * step; }
    // Tick i's number with the axis's decimals ("0.5", "12", never "-0").
    std::string label(int i) const;
};
Axis niceAxis(double low, double high);

} // namespace speed

namespace speed {

// Saving the chart as an image ("Save chart..."): the dialog, and what is said when it fails.
inline constexpr const char* kSaveChartCaption = "Save chart...";
inline constexpr const char* kChartFilter = "PNG image|*.png";
inline constexpr const char* kChartName = "speedtest.png";
inline std::string chartNotSaved(const std::string& path) {
    return "Failed to write the chart to " + path;
}

} // namespace speed
