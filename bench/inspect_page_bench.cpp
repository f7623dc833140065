// Times the hex viewer and the byte map, in their windows (offscreen, with the real grid, labels,
// image and event pump) and in the engines alone (what the command line runs):
//   inspect_page_bench page FILE WIDTH ROUNDS  a full page from the click to the grid painted, at 16
//                                               or 32 bytes a row; prints the median in ms
//   inspect_page_bench blank FILE               a "Skip blank" scan from the file's start in the
//                                               window; prints seconds
//   inspect_page_bench scan FILE                the same scan in the engine alone
//   inspect_page_bench map FILE S               a map in the engine alone; prints seconds
//   inspect_page_bench mapwindow FILE S         a map drawn by the window's Draw button
//   inspect_page_bench demo PATH                writes the demo drive's image (test data)
#include "core/selection.h"
#include "discovery/demo_drive.h"
#include "inspect/bytemap.h"
#include "inspect/gui/graphical.h"
#include "inspect/gui/hexview_model.h"
#include "inspect/gui/hexview_window.h"
#include "platform/platform.h"
#include "ui/application.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Messages to standard error, every question answered with its default, no pauses.
struct Quiet final : Dialogs, JobControl, hexview::Display, bytemap::Canvas {
    Button ask(const Question& q) override {
        std::fprintf(stderr, "%s\n", q.text.c_str());
        return q.defaultButton;
    }
    std::optional<std::string> chooseFile(const FileDialog&) override { return std::nullopt; }
    std::optional<std::string> typedAgreement(const TFileInfo&, const std::string&) override {
        return std::nullopt;
    }
    void progress(const Progress&) override {}
    void pump() override {}
    bool stopRequested() override { return false; }
    Clock& clock() override { return clock_; }
    void cleared() override {}
    void blockAdded(int) override {}
    void info(const std::string& t) override { last = t; }
    void readCount(const std::string&) override {}
    void address(const std::string&) override {}
    void status(const std::string& t) override { std::fprintf(stderr, "%s\n", t.c_str()); }
    void resized() override {}
    void drawn(int, int) override {}
    void drawingChanged() override {}
    SystemClock clock_;
    std::string last;
};

int usage() {
    std::fprintf(stderr,
                 "usage: inspect_page_bench page FILE WIDTH ROUNDS | blank FILE | scan FILE | map FILE S |"
                 " mapwindow FILE S | demo PATH\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return usage();
    const std::string mode = argv[1];
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (mode == "demo") {
        demo::writeDemoImage(argv[2]);
        return 0;
    }
    platform::Backend& backend = platform::systemBackend();
    const TFileInfo file = selection::fromFile(backend, TFileInfo{}, argv[2]);
    Quiet quiet;
    if (mode == "scan") {
        hexview::Viewer viewer(backend, file);
        viewer.setFilter(hexview::Filter::SkipBlank);
        const auto start = std::chrono::steady_clock::now();
        viewer.refresh(quiet, quiet, quiet);
        std::printf("%.3f\n", since(start));
        std::fprintf(stderr, "%s\n", quiet.last.c_str());
        return 0;
    }
    if (mode == "map") {
        if (argc < 4) return usage();
        bytemap::Map map(backend, file);
        const auto start = std::chrono::steady_clock::now();
        const auto report = map.draw(quiet, quiet, quiet, std::atoi(argv[3]));
        std::printf("%.3f\n", since(start));
        std::fprintf(stderr, "%d rows, %lld pixels\n", report.rows, static_cast<long long>(report.pixels));
        return 0;
    }

    TApplication app(argc, argv);
    if (mode == "mapwindow") {
        if (argc < 4) return usage();
        TfrmGraphical w(backend, file, nullptr, &quiet);
        w.sedSecPerPix->setValue(std::atoi(argv[3]));
        w.show();
        if (!QTest::qWaitForWindowExposed(&w)) return 1;
        const auto start = std::chrono::steady_clock::now();
        w.btnDraw->click();
        QCoreApplication::processEvents();
        std::printf("%.3f\n", since(start));
        return 0;
    }
    if (mode != "page" && mode != "blank") return usage();
    TfrmHexView w(backend, file, nullptr, &quiet);
    const bool page = mode == "page";
    const int width = page && argc > 3 ? std::atoi(argv[3]) : 16;
    w.resize(width == 32 ? 1000 : 650, 700);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w)) return 1;
    // The first refresh, which showing the window starts.
    QTest::qWait(50);
    while (w.viewer().refreshing())
        QTest::qWait(10);
    if (w.viewer().rowWidth() != width) {
        std::fprintf(stderr, "row width %d, not %d\n", w.viewer().rowWidth(), width);
        return 1;
    }
    if (page) {
        const int rounds = argc > 4 ? std::atoi(argv[4]) : 20;
        std::vector<double> ms, paint;
        for (int i = 0; i < rounds; ++i) {
            const auto start = std::chrono::steady_clock::now();
            w.btnRefresh->click();
            // Whatever the refresh left to paint, painted now: the page is on screen.
            QCoreApplication::processEvents();
            ms.push_back(since(start) * 1000);
            // What one full repaint of the grid costs, for comparison.
            const auto again = std::chrono::steady_clock::now();
            w.sgdHexview->viewport()->repaint();
            paint.push_back(since(again) * 1000);
        }
        std::sort(ms.begin(), ms.end());
        std::sort(paint.begin(), paint.end());
        std::printf("%.2f\n", ms[ms.size() / 2]);
        std::fprintf(stderr, "one full repaint of the grid: %.2f ms\n", paint[paint.size() / 2]);
        return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    w.rgrFilterItems->button(int(hexview::Filter::SkipBlank))->click();
    QCoreApplication::processEvents();
    std::printf("%.3f\n", since(start));
    std::fprintf(stderr, "%s, %s\n", qPrintable(w.lblInfo->text()), qPrintable(w.lblRead->text()));
    return 0;
}
