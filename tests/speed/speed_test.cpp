// Speed and seek test: samples, points and labels on a fake clock; the sizes that change `n`;
// selections beyond 2 TiB and 8 TiB; Stop then a new run; a loop device read past the cache.

#include "speed/chart_image.h"
#include "speed/speed.h"

#include "support/fixtures.h"
#include "support/probe_backend.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>

using platform::testkit::TestBackend;

namespace {

constexpr int64_t kMiB = 1 << 20;

// Records every sample the tests sends.
struct ChartUi : ScriptedUi {
    std::vector<speed::Sample> samples;
    speed::ChartData chart;
    void progress(const Progress& p) override {
        ScriptedUi::progress(p);
        if (const auto* s = dynamic_cast<const speed::Sample*>(&p)) {
            chart.add(s->points);
            if (s->measured) samples.push_back(*s);
        }
    }
};

TEST(Speed, ReadsPerSample) {
    const std::vector<std::pair<int64_t, int64_t>> cases{
        {0, 0},          {64 * kMiB, 0},  {64 * kMiB + 1, 1},    {128 * kMiB, 1},          {192 * kMiB, 2},
        {320 * kMiB, 2}, {448 * kMiB, 4}, {int64_t(1) << 30, 8}, {int64_t(3) << 40, 24576}};
    for (const auto& [size, n] : cases)
        EXPECT_EQ(speed::readsPerSample(size), n) << size;
}

class SpeedTest : public testing::Test {
protected:
    // A sparse file: reading it costs no disk.
    std::string sparse(const std::string& name, int64_t size) {
        const std::string path = dir_.file(name);
        fixtures::writeFile(path, {});
        std::filesystem::resize_file(path, uintmax_t(size));
        return path;
    }
    fixtures::TempDir dir_;
    TestBackend backend_;
};

// Reads that get faster: n reads a sample, the first three samples not drawn, markers only for a
// speed 100 kB/s past the last one, the averages from the 33rd sample on at the middle of their
// window, and the two labels.
TEST_F(SpeedTest, SamplesPointsAndLabels) {
    for (const auto& [size, n, count] :
         std::vector<std::tuple<int64_t, int64_t, int64_t>>{{128 * kMiB, 1, 1024}, {192 * kMiB, 2, 768}}) {
        const std::string file = sparse("s.img", size + 3 * 4096);
        probe::ProbeBackend timed(backend_);
        ChartUi ui;
        timed.probe.clock = &ui.fakeClock;
        int64_t reads = 0;
        // Slowly faster reads (markers only past 100 kB/s over the last), then 1 ms each.
        timed.probe.readMs = [&](int64_t) { return std::max<int64_t>(0, 400 - reads++ / 2); };
        const auto r = speed::speedTest(timed, ui, ui, helpers::selection(file, 4096, size, "Disk"));
        EXPECT_EQ(r.outcome, speed::Outcome::Completed);
        EXPECT_EQ(r.samples, count);
        ASSERT_EQ(int64_t(ui.samples.size()), count);
        EXPECT_EQ(int64_t(timed.probe.reads.size()), count * n) << "n reads of 128 KiB a sample";
        EXPECT_EQ(timed.probe.reads.front(), 4096);

        const auto& speeds = ui.chart.points(speed::Series::Speed);
        const auto& averages = ui.chart.points(speed::Series::Average);
        const auto& peaks = ui.chart.points(speed::Series::Peak);
        ASSERT_EQ(int64_t(speeds.size()), count - 3);
        ASSERT_EQ(int64_t(averages.size()), count - 32);
        EXPECT_DOUBLE_EQ(speeds.front().first, 3.0 * double(n) / 8) << "MiB within the selection";
        EXPECT_DOUBLE_EQ(averages.front().first, (32.0 - 15) * double(n) / 8);
        EXPECT_EQ(peaks.front(), std::make_pair(double(size) / kMiB, 2000.0));

        // Recomputed from the times the samples took.
        int64_t total = 0, shortest = 9999999;
        std::vector<double> window;
        double peak = 0;
        size_t peakCount = 1;
        for (int64_t i = 0; i < count; ++i) {
            const double speed = ui.samples[size_t(i)].value;
            const int64_t ms = int64_t(std::lround(double(n * 131072) / speed));
            total += ms;
            shortest = std::min(shortest, ms);
            if (peak + 100 < speed) {
                peak = speed;
                ASSERT_EQ(peaks.at(peakCount++), std::make_pair(double(size) / kMiB, speed + 200));
            }
            if (i == 0)
                window.assign(31, speed);
            else {
                window.erase(window.begin());
                window.push_back(speed);
            }
            if (i >= 32) {
                double sum = 0;
                for (const double v : window)
                    sum += v;
                ASSERT_NEAR(averages[size_t(i - 32)].second, sum / 31, 1e-6);
            }
        }
        EXPECT_EQ(peaks.size(), peakCount);
        const double done = double(n * 131072) * double(count);
        char text[128];
        std::snprintf(text, sizeof text, "Average: %lld kb/s (%lld Mb/s)", std::llrint(done / double(total)),
                      std::llrint(done / (double(total) * 1024)));
        EXPECT_EQ(ui.samples.back().average, text);
        std::snprintf(text, sizeof text, "Maximum: %lld kb/s",
                      std::llrint(double(n * 131072) / double(shortest)));
        EXPECT_EQ(ui.samples.back().maximum, text);
        EXPECT_TRUE(ui.asked.empty());
    }
}

TEST_F(SpeedTest, TooSmallUnopenedAndShortReads) {
    const std::string file = sparse("s.img", 130 * kMiB);
    {
        probe::ProbeBackend probe(backend_);
        ChartUi ui;
        const auto r = speed::speedTest(probe, ui, ui, helpers::selection(file, 0, 64 * kMiB));
        EXPECT_EQ(r.outcome, speed::Outcome::NotStarted);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{speed::kTooSmallMessage});
        EXPECT_TRUE(probe.probe.reads.empty());
        EXPECT_EQ(ui.chart.bounds(), std::nullopt) << "nothing plotted";
        EXPECT_EQ(std::count(ui.modeLog.begin(), ui.modeLog.end(), "busy"), 0) << "no button changes";
    }
    backend_.fileFaults(file).failOpenModes = {platform::OpenMode::Read};
    for (const auto test : {speed::speedTest, speed::seekTest}) {
        ChartUi ui;
        EXPECT_EQ(test(backend_, ui, ui, helpers::selection(file, 0, 128 * kMiB, "Disk 7"), {}).outcome,
                  speed::Outcome::Failed);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{"Failed to open Disk 7 for reading"});
        EXPECT_EQ(std::count(ui.modeLog.begin(), ui.modeLog.end(), "busy"), 0) << "no button changes";
    }
    backend_.fileFaults(file) = {};
    // The device ends inside sample 10: that sample is neither counted nor drawn, and nothing is said.
    backend_.fileFaults(file).endsAt = 10 * 131072 + 5000;
    ChartUi ui;
    const auto r = speed::speedTest(backend_, ui, ui, helpers::selection(file, 0, 128 * kMiB));
    EXPECT_EQ(r.outcome, speed::Outcome::Completed);
    EXPECT_EQ(r.bytes, 10 * 131072) << "the bytes of the samples counted";
    EXPECT_EQ(ui.samples.size(), 10u);
    EXPECT_EQ(ui.chart.points(speed::Series::Speed).size(), 7u);
    EXPECT_TRUE(ui.asked.empty());
}

// n x 131072 and every position in 64 bits: a 3 TiB selection, stopped after 40 samples, and a
// new run after the stop that goes on.
TEST_F(SpeedTest, Beyond2TiBAndStopThenNewRun) {
    probe::ProbeBackend big(backend_);
    big.holes["big"] = int64_t(3) << 40;
    ChartUi ui;
    big.probe.clock = &ui.fakeClock;
    big.probe.readMs = [](int64_t) { return 0; };
    ui.onPump = [&] { ui.stop = ui.samples.size() == 40; };
    auto r = speed::speedTest(big, ui, ui, helpers::selection("big", 0, int64_t(3) << 40));
    EXPECT_EQ(r.outcome, speed::Outcome::Incomplete);
    EXPECT_EQ(r.bytes, int64_t(40) * 24576 * 131072);
    ASSERT_EQ(ui.samples.size(), 40u);
    EXPECT_DOUBLE_EQ(ui.samples[39].position, 39.0 * 24576 / 8) << "MiB";
    EXPECT_EQ(ui.samples[39].value, 24576.0 * 131072) << "each sample counted as 1 ms";
    EXPECT_EQ(ui.samples[39].average, "Average: 3221225472 kb/s (3145728 Mb/s)");
    EXPECT_EQ(big.probe.reads.back(), int64_t(39 + 1) * 24576 * 131072 - 131072);

    ui.onPump = [&] { ui.stop = ui.samples.size() == 45; };
    r = speed::speedTest(big, ui, ui, helpers::selection("big", 0, int64_t(3) << 40));
    EXPECT_EQ(r.samples, 5) << "the stop of the first run does not end the second";
    EXPECT_EQ(std::count(ui.chart.points(speed::Series::Peak).begin(),
                         ui.chart.points(speed::Series::Peak).end(),
                         std::make_pair(3.0 * 1024 * 1024, 2000.0)),
              2)
        << "each run adds its marker at 2000";
}

// 512 single reads at 4096-byte steps from the offset, inside the selection, plotted at their
// place on the device; the pauses; the labels with the user's decimal separator.
TEST_F(SpeedTest, SeekTest) {
    const int64_t offset = 3 * 4096 + 512, size = 64 * kMiB + 100;
    const std::string file = sparse("s.img", offset + size);
    probe::ProbeBackend timed(backend_);
    ChartUi ui;
    timed.probe.clock = &ui.fakeClock;
    timed.probe.readMs = [](int64_t) { return 3; };
    speed::Options options;
    options.decimalSeparator = ',';
    const auto r = speed::seekTest(timed, ui, ui, helpers::selection(file, offset, size), options);
    EXPECT_EQ(r.samples, 512);
    ASSERT_EQ(timed.probe.reads.size(), 512u);
    std::set<int64_t> places;
    for (const int64_t at : timed.probe.reads) {
        ASSERT_EQ((at - offset) % 4096, 0);
        ASSERT_GE(at, offset);
        ASSERT_LE(at + 4096, offset + size);
        places.insert(at);
    }
    EXPECT_GT(places.size(), 400u) << "random places";
    const auto& points = ui.chart.points(speed::Series::Speed);
    ASSERT_EQ(points.size(), 512u);
    EXPECT_EQ(points[7], std::make_pair(double(timed.probe.reads[7]) / kMiB, 3.0));
    EXPECT_EQ(ui.samples.front().maximum, "0% done");
    EXPECT_EQ(ui.samples[2].maximum, "0% done");   // 0.59, of the accesses before it
    EXPECT_EQ(ui.samples[64].maximum, "12% done"); // 12.5, halves to even
    EXPECT_EQ(ui.samples[256].maximum, "50% done");
    EXPECT_EQ(ui.samples.back().maximum, "100% done");
    EXPECT_EQ(ui.samples.back().average, "Average: 3,0 ms");
    ASSERT_EQ(ui.fakeClock.sleeps.size(), 1024u);
    for (size_t i = 0; i < 1024; ++i)
        ASSERT_EQ(ui.fakeClock.sleeps[i], i % 2 ? 50 : 0);
    EXPECT_TRUE(ui.asked.empty());
}

// A block count past 32 bits reaches beyond 8 TiB; a read that gives nothing says "dumb2" and
// still counts.
TEST_F(SpeedTest, SeekBeyond8TiBAndEmptyReads) {
    probe::ProbeBackend big(backend_);
    const int64_t size = int64_t(16) << 40;
    big.holes["big"] = size / 2; // reads past the middle give nothing
    ChartUi ui;
    const auto r = speed::seekTest(big, ui, ui, helpers::selection("big", 4096, size - 4096));
    EXPECT_EQ(r.samples, 512);
    const auto beyond = std::count_if(big.probe.reads.begin(), big.probe.reads.end(),
                                      [&](int64_t at) { return at >= size / 2; });
    EXPECT_GT(beyond, 100);
    EXPECT_EQ(r.bytes, (512 - beyond) * 4096) << "an access that gives nothing reads nothing";
    for (const int64_t at : big.probe.reads)
        ASSERT_TRUE(at >= 4096 && at + 4096 <= size);
    EXPECT_EQ(ui.texts(), std::vector<std::string>(size_t(beyond), "dumb2"));
    EXPECT_EQ(ui.chart.points(speed::Series::Speed).size(), 512u);
}

// A 128 MiB loop device, read past the cache on the real clock: 1024 samples.
TEST_F(SpeedTest, LoopDevice) {
    const std::string image = sparse("loop.img", 128 * kMiB);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    struct RealClock : ChartUi {
        SystemClock real;
        Clock& clock() override { return real; }
    } real;
    const auto r = speed::speedTest(platform::systemBackend(), real, real,
                                    helpers::selection(loop.node(), 0, 128 * kMiB));
    EXPECT_EQ(r.samples, 1024);
    EXPECT_EQ(real.chart.points(speed::Series::Speed).size(), 1021u);
    EXPECT_EQ(real.samples.back().average.rfind("Average: ", 0), 0u);
}

// The command line's chart: a PNG that python3 decodes to the size asked, with the speeds as blue
// points on their seven levels, the average as one red line and the marker in yellow.
TEST_F(SpeedTest, ChartImage) {
#ifdef _WIN32
    GTEST_SKIP() << "the picture is decoded by python3, which a Windows test cannot run";
#endif
    speed::ChartData chart;
    for (int i = 0; i < 100; ++i) {
        chart.add({speed::Series::Speed, i / 8.0, 1000.0 + (i % 7) * 50});
        chart.add({speed::Series::Average, i / 8.0, 1150.0});
    }
    chart.add({speed::Series::Peak, 12.5, 2000});
    const std::string png = dir_.file("chart.png");
    ASSERT_EQ(speed::writeChartPng(backend_, chart, "Disk 1 (8 GiB)", png), "");
    std::string out;
    ASSERT_EQ(
        fixtures::shell(
            "python3 -c \"import zlib,struct,sys\n"
            "d=open('" +
                png +
                "','rb').read()\n"
                "assert d[:8]==b'\\x89PNG\\r\\n\\x1a\\n'\n"
                "w,h=struct.unpack('>II',d[16:24]); i=d.index(b'IDAT'); n=struct.unpack('>I',d[i-4:i])[0]\n"
                "raw=zlib.decompress(d[i+4:i+4+n]); s=w*3+1\n"
                "rows=lambda c: len(set(y for y in range(h) for x in range(w) if "
                "raw[y*s+1+x*3:y*s+4+x*3]==c))\n"
                "print(w,h,rows(bytes([0,0,255]))>=14,rows(bytes([255,0,0])),rows(bytes([255,255,0]))>=5)\"",
            &out),
        0);
    EXPECT_EQ(out, "800 500 True 1 True\n") << "size; rows of the blue points (7 speeds), the flat red line, "
                                               "the whole marker";
    EXPECT_NE(speed::writeChartPng(backend_, chart, "t", dir_.file("no/such/folder/c.png")), "");
}

TEST(Speed, NiceAxes) {
    const auto a = speed::niceAxis(0.375, 127.875);
    EXPECT_EQ(a.min, 0);
    EXPECT_EQ(a.max, 140);
    EXPECT_EQ(a.step, 20);
    EXPECT_EQ(a.ticks(), 8);
    const auto flat = speed::niceAxis(5, 5);
    EXPECT_LE(flat.min, 5);
    EXPECT_GE(flat.max, 5);
    EXPECT_LT(flat.min, flat.max);
}

// Seek times from 0.05 ms to 10 s, tiny and huge speeds: each tick has a label of its own that
// tells its value, and the ticks span the points.
TEST(Speed, AxisLabelsAreDistinctAndCoverTheRange) {
    const std::vector<std::pair<double, double>> ranges{
        {0, 0.05},      {0.05, 0.06},     {1, 4},           {0, 7.9},     {1, 1},
        {0, 0},         {0, 10000},       {9990, 1e4},      {1e-9, 3e-9}, {4.2e7, 4.2e7},
        {1e9, 1e9 + 1}, {2500.5, 2500.7}, {1e16, 1e16 + 2}, {-2, 2}};
    for (const auto& [low, high] : ranges) {
        const auto axis = speed::niceAxis(low, high);
        EXPECT_TRUE(axis.ticks() >= 3 && axis.ticks() <= 12 && axis.tick(0) <= low &&
                    axis.tick(axis.ticks() - 1) >= high)
            << low << " .. " << high;
        std::set<std::string> labels;
        for (int i = 0; i < axis.ticks(); ++i) {
            labels.insert(axis.label(i));
            EXPECT_NEAR(std::strtod(axis.label(i).c_str(), nullptr), axis.tick(i), axis.step / 2)
                << axis.label(i);
        }
        EXPECT_EQ(labels.size(), size_t(axis.ticks())) << low << " .. " << high;
    }
}

} // namespace
