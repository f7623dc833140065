// The rescue window under the offscreen platform: opened from the Selection menu, a run over a
// file with a bad sector (counters, the live map and its colours, the bad ranges), Stop with the
// map written, and a new window continuing from that map.

#include "app/gui/mainwindow.h"
#include "rescue/gui/rescue_map_view.h"
#include "rescue/gui/rescue_window.h"

#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using platform::testkit::TestBackend;
using rescue::State;

namespace {

// Time that moves on by a step whenever it is read: every progress update is shown.
struct StepClock final : Clock {
    int64_t now = 0, step = 300;
    int64_t nowMs() override { return now += step; }
    void sleepMs(int64_t ms) override { now += ms; }
};

std::string text(const std::string& path) {
    const auto bytes = fixtures::readFile(path);
    return {bytes.begin(), bytes.end()};
}

QColor shownAt(TRescueMap& map, int64_t offset) {
    return map.grab().toImage().pixelColor(map.pixelOf(offset));
}

} // namespace

class RescueGuiTest : public QObject {
    Q_OBJECT

private slots:
    void menuItemOpensTheWindowOnTheSelection() {
        fixtures::TempDir dir;
        const std::string disk = dir.file("disk.img");
        fixtures::writePatternFile(disk, 1 << 20);
        TestBackend backend;
        ScriptedUi ui;
        TfrmMain::Options o;
        o.backend = &backend;
        o.dialogs = &ui;
        TfrmMain main(o);
        ui.files = {disk};
        main.Selectfile1Click();
        QAction* item = main.menuItem("Rescuedump1");
        QVERIFY(item && item->isEnabled());
        item->trigger();
        auto* w = main.findChild<TfrmRescue*>();
        QVERIFY(w && w->isVisible());
        QCOMPARE(w->lblDevice->text(), QString::fromStdString(main.Selection.Description));
        QCOMPARE(w->lblOffset->text(), QString("0"));
        QCOMPARE(w->lblSize->text(), QString("1048576"));
        QCOMPARE(w->imgMap->map().size(), 1 << 20);
        QVERIFY(ui.asked.empty());
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!main.findChild<TfrmRescue*>());
    }

    // The split choices reach the run: a 16 KiB bad stretch trimmed in 4 KiB sectors without
    // scraping leaves its middle for later; by default every 512-byte sector of it is read.
    void splitChoicesReachTheRun() {
        constexpr int64_t kSize = 1 << 20, kBadAt = 300 * 1024, kBad = 16 * 1024;
        for (const auto& [scrape, sectorItem, bad, unscraped] :
             std::vector<std::tuple<bool, int, int64_t, int64_t>>{{false, 4, 8192, 8192},
                                                                  {true, 0, kBad, 0}}) {
            fixtures::TempDir dir;
            const std::string disk = dir.file("disk.img");
            fixtures::writePatternFile(disk, kSize);
            TestBackend backend;
            backend.fileFaults(disk).badRanges = {platform::ByteRange::of(kBadAt, kBad)};
            ScriptedUi ui;
            TfrmRescue w(backend, helpers::selection(disk, 0, kSize, "Disk 1"), &ui);
            w.edtImage->setText(QString::fromStdString(dir.file("r.img")));
            w.chkScrape->setChecked(scrape);
            w.cboSectorSize->setCurrentIndex(sectorItem);
            QCOMPARE(w.cboSectorSize->currentData().toInt(), sectorItem ? 4096 : 0);
            w.btnStart->click();
            QVERIFY(w.result());
            QCOMPARE(w.result()->map.bytesIn(State::Bad), bad);
            QCOMPARE(w.result()->map.bytesIn(State::NotSplit), unscraped);
            w.chkSplit->setChecked(false);
            QVERIFY(!w.chkScrape->isEnabled() && !w.cboSectorSize->isEnabled());
        }
    }

    // One bad sector: the counters move while the run goes on, the live map shows read and
    // unread bytes together, and at the end the map, the counters and the list say the same as
    // the engine's map; the sector is filled with the chosen pattern.
    void runFillsCountersAndMap() {
        fixtures::TempDir dir;
        const std::string disk = dir.file("disk.img"), image = dir.file("rescued.img");
        constexpr int64_t kSize = 4 << 20, kBad = 3000000, kBadSector = kBad / 512 * 512;
        fixtures::writePatternFile(disk, kSize, 5);
        TestBackend backend;
        backend.fileFaults(disk).readErrorAt = kBad;
        ScriptedUi ui;
        TfrmRescue w(backend, helpers::selection(disk, 0, kSize, "Disk 1"), &ui);
        w.show();
        StepClock clock;
        w.jobControl().clockOverride = &clock;
        ui.files = {image};
        w.btnImage->click();
        QCOMPARE(w.edtMap->text(), QString::fromStdString(image + ".map"));
        w.edtFill->setText("DEAD");

        QStringList rescuedShown;
        bool locked = true, liveMap = false;
        w.jobControl().afterPump = [&] {
            locked =
                locked && !w.btnStart->isEnabled() && w.btnStop->isEnabled() && !w.grbOptions->isEnabled();
            if (rescuedShown.isEmpty() || rescuedShown.back() != w.lblRescued->text())
                rescuedShown << w.lblRescued->text();
            const rescue::Map& m = w.imgMap->map();
            liveMap = liveMap || (m.bytesIn(State::Finished) > 0 && m.bytesIn(State::NotTried) > 0);
        };
        w.btnStart->click();
        QVERIFY(locked);
        QVERIFY(liveMap);
        QVERIFY2(rescuedShown.size() >= 3, qPrintable(rescuedShown.join(", ")));
        QVERIFY(w.btnStart->isEnabled() && !w.btnStop->isEnabled());

        QVERIFY(w.result());
        const rescue::Result& r = *w.result();
        QCOMPARE(r.outcome, Outcome::Incomplete);
        QCOMPARE(w.lblRescued->text(), QString("%1 bytes").arg(kSize - 512));
        QCOMPARE(w.lblBadBytes->text(), QString("512 bytes"));
        QCOMPARE(w.lblBadAreas->text(), QString("1"));
        QCOMPARE(w.lblPhase->text(), QString("Done"));
        QVERIFY(w.lblRate->text().endsWith(" MB/s"));
        QCOMPARE(w.lblSummary->text(),
                 QString("Rescued %1 of %2 bytes; 512 bytes bad in 1 area.").arg(kSize - 512).arg(kSize));
        QCOMPARE(w.txtBadRanges->toPlainText(), QString("%1  512\n").arg(kBadSector));

        QCOMPARE(w.imgMap->map().areas(), r.map.areas());
        QCOMPARE(w.lblScale->text(), QString("1 pixel = %1 bytes").arg(w.imgMap->bytesPerPixel()));
        for (const rescue::Area& a : r.map.areas())
            QCOMPARE(shownAt(*w.imgMap, a.offset + a.size / 2), TRescueMap::colourOf(a.state));
        QCOMPARE(shownAt(*w.imgMap, kBadSector), TRescueMap::colourOf(State::Bad));
        QCOMPARE(shownAt(*w.imgMap, 0), TRescueMap::colourOf(State::Finished));
        QCOMPARE(shownAt(*w.imgMap, kSize - 1), TRescueMap::colourOf(State::Finished));
        QCOMPARE(rescue::parseMap(text(w.edtMap->text().toStdString()), kSize)->areas(), r.map.areas());

        const auto bytes = fixtures::readFile(image);
        QCOMPARE(int64_t(bytes.size()), kSize);
        for (int64_t i = 0; i < kSize; ++i) {
            const bool bad = i >= kBadSector && i < kBadSector + 512;
            const uint8_t expected = bad ? uint8_t(i % 2 ? 0xAD : 0xDE) : fixtures::patternByte(i, 5);
            if (bytes[size_t(i)] != expected) QFAIL(qPrintable(QString("image byte %1").arg(i)));
        }

        // Without splitting, the failed block stays failed and nothing is called bad.
        TfrmRescue unsplit(backend, helpers::selection(disk, 0, kSize), &ui);
        unsplit.show();
        ui.files = {dir.file("unsplit.img")};
        unsplit.btnImage->click();
        unsplit.chkSplit->setChecked(false);
        unsplit.btnStart->click();
        QCOMPARE(unsplit.lblBadBytes->text(), QString("0 bytes"));
        QCOMPARE(shownAt(*unsplit.imgMap, kBad), TRescueMap::colourOf(State::Failed));
        QCOMPARE(unsplit.txtBadRanges->toPlainText(), QString());
        QVERIFY(ui.asked.empty());
    }

    // Stop ends the run with its map written; a new window given the same map reads only what
    // that map left, so a fault in the part already rescued is never met.
    void stopWritesTheMapAndTheSameMapContinues() {
        fixtures::TempDir dir;
        const std::string disk = dir.file("disk.img"), image = dir.file("part.img"),
                          map = dir.file("part.map");
        constexpr int64_t kSize = 16 << 20;
        fixtures::writePatternFile(disk, kSize, 7);
        TestBackend backend;
        ScriptedUi ui;
        const TFileInfo selection = helpers::selection(disk, 0, kSize);
        {
            TfrmRescue w(backend, selection, &ui);
            w.show();
            // A map chosen apart from the image keeps its name when the image changes.
            ui.files = {map, image};
            w.btnMap->click();
            w.btnImage->click();
            QCOMPARE(w.edtMap->text(), QString::fromStdString(map));
            int pumps = 0;
            w.jobControl().afterPump = [&] {
                if (++pumps == 3) w.btnStop->click();
            };
            w.btnStart->click();
            QVERIFY(w.result());
            QCOMPARE(w.result()->outcome, Outcome::Incomplete);
            QVERIFY(w.lblSummary->text().endsWith(
                "Stopped: Start with the same map file goes on from where it stopped."));
            QVERIFY(w.btnStart->isEnabled() && !w.btnStop->isEnabled());
            const auto written = rescue::parseMap(text(map), kSize);
            QVERIFY(written);
            QCOMPARE(written->areas(), w.result()->map.areas());
            const int64_t done = written->bytesIn(State::Finished);
            QVERIFY(done > 0 && done < kSize / 2);
            QCOMPARE(written->areas().front().state, State::Finished);
            QCOMPARE(shownAt(*w.imgMap, 0), TRescueMap::colourOf(State::Finished));
            QCOMPARE(shownAt(*w.imgMap, kSize - 1), TRescueMap::colourOf(State::NotTried));
        }

        backend.fileFaults(disk).readErrorAt = 100;
        TfrmRescue again(backend, selection, &ui);
        again.show();
        ui.files = {image, map};
        again.btnImage->click();
        again.btnMap->click();
        again.btnStart->click();
        QCOMPARE(again.result()->outcome, Outcome::Completed);
        QCOMPARE(again.lblBadBytes->text(), QString("0 bytes"));
        QCOMPARE(again.lblRescued->text(), QString("%1 bytes").arg(kSize));
        QVERIFY(fixtures::readFile(image) == fixtures::readFile(disk));
        QVERIFY(ui.asked.empty());
    }
};

QTEST_MAIN(RescueGuiTest)
#include "rescue_gui_test.moc"
