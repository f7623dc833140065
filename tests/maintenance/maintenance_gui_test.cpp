// The three maintenance windows under the offscreen platform: as built, bound to their engines,
// with Stop, close during a run, and the chart's points across runs.

#include "maintenance/gui/checksum_window.h"
#include "maintenance/gui/erase_window.h"
#include "speed/gui/speed_window.h"

#include "support/fixtures.h"
#include "support/probe_backend.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <QApplication>
#include <QButtonGroup>
#include <QChart>
#include <QChartView>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QGroupBox>
#include <QLabel>
#include <QLegend>
#include <QLineEdit>
#include <QLineSeries>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScatterSeries>
#include <QSet>
#include <QTest>
#include <QValueAxis>

#include <filesystem>

using platform::testkit::TestBackend;

namespace {

// Time that moves on by a step whenever it is read.
struct StepClock final : Clock {
    int64_t now = 0, step = 0;
    int64_t nowMs() override { return now += step; }
    void sleepMs(int64_t ms) override { now += ms; }
};

std::string sparse(const fixtures::TempDir& dir, int64_t size) {
    const std::string path = dir.file("sparse.img");
    fixtures::writeFile(path, {});
    std::filesystem::resize_file(path, uintmax_t(size));
    return path;
}

} // namespace

class MaintenanceGuiTest : public QObject {
    Q_OBJECT

private slots:
    void checksumWindow() {
        fixtures::TempDir dir;
        const std::string file = dir.file("data.bin");
        fixtures::writePatternFile(file, 10 * 8192, 2);
        TestBackend backend;
        for (const auto kind : {checksum::MD5, checksum::SHA1, checksum::Both}) {
            ScriptedUi ui;
            TfrmChecksum w(backend, helpers::selection(file, 8192, 9 * 8192, "Disk 1 part"), kind, &ui);
            QCOMPARE(w.windowTitle(), QString("Calculate checksum"));
            QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
            QCOMPARE(w.lblDevice->text(), QString("Disk 1 part"));
            QCOMPARE(w.lblOffset->text(), QString("8192"));
            QCOMPARE(w.lblSize->text(), QString("73728"));
            QCOMPARE(w.lblChecksum->text(), QString(kind == checksum::SHA1 ? "SHA1 sum" : "MD5 sum"));
            QCOMPARE(w.edtChecksum->text(), QString("<press calculate button to start>"));
            QVERIFY(w.edtChecksum->isReadOnly());
            QCOMPARE(w.btnCalculate->text(), QString("Calculate checksum"));
            QCOMPARE(w.btnClose->text(), QString("&Close"));
            w.show();
            QCOMPARE(w.edtChecksum2->isVisible(), kind == checksum::Both);
            QCOMPARE(w.lblChecksum2->isVisible(), kind == checksum::Both);
            QVERIFY(!w.pgbProgress->isVisible() && !w.lblTime1->isVisible() && !w.lblTime2->isVisible());
            w.btnCalculate->click();
            helpers::copySlice(file, 8192, 9 * 8192, dir.file("slice"));
            const auto md5 = QString::fromStdString(helpers::toolDigest("md5sum", dir.file("slice")));
            const auto sha1 = QString::fromStdString(helpers::toolDigest("sha1sum", dir.file("slice")));
            QCOMPARE(w.edtChecksum->text(), kind == checksum::SHA1 ? sha1 : md5);
            QCOMPARE(w.edtChecksum2->text(), kind == checksum::Both ? sha1 : QString());
            QCOMPARE(w.pgbProgress->value(), 100);
            QVERIFY(w.pgbProgress->isVisible() && w.btnCalculate->isEnabled());
            QVERIFY(ui.asked.empty());
        }
    }

    // Closed during a run: the run ends at its next update, its digest still reaches the window,
    // and the window goes once the run has returned.
    void checksumClosedWhileRunning() {
        fixtures::TempDir dir;
        const std::string file = dir.file("data.bin");
        fixtures::writePatternFile(file, 64 << 20, 6);
        TestBackend backend;
        ScriptedUi ui;
        auto* w = new TfrmChecksum(backend, helpers::selection(file, 0, 64 << 20), checksum::MD5, &ui);
        QPointer<TfrmChecksum> alive(w);
        w->setDeleteWhenClosed(true);
        w->show();
        StepClock clock;
        clock.step = 300; // an update after every block
        w->jobControl().clockOverride = &clock;
        int pumps = 0;
        bool lockedWhileRunning = true;
        w->jobControl().afterPump = [&] {
            lockedWhileRunning =
                lockedWhileRunning && !w->btnCalculate->isEnabled() && w->lblTime1->isVisible();
            if (++pumps == 3) w->close();
        };
        w->btnCalculate->click();
        QVERIFY(lockedWhileRunning);
        QCOMPARE(pumps, 3);
        QVERIFY(alive);
        helpers::copySlice(file, 0, 3 * 8192, dir.file("three"));
        QCOMPARE(w->edtChecksum->text(),
                 QString::fromStdString(helpers::toolDigest("md5sum", dir.file("three"))));
        QCOMPARE(w->lblTime1->text(),
                 QString("Elapsed: ") +
                     QString::fromStdString(checksum::durationText(
                         1800, QLocale::system().timeFormat(QLocale::LongFormat).toStdString())));
        QVERIFY(ui.asked.empty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!alive);
    }

    void eraseWindowFillCharacter() {
        TestBackend backend;
        ScriptedUi ui;
        TfrmWipeData w(backend, helpers::selection("x", 0, 10), &ui);
        w.show();
        QCOMPARE(w.windowTitle(), QString("Erase data on selected area"));
        QCOMPARE(w.rgrWipeChar->title(), QString("Select wipe character / method"));
        QCOMPARE(w.grbSelectedChar->title(), QString("Selected character (hexadecimal)"));
        QCOMPARE(w.itemIndex(), 0);
        QCOMPARE(w.edtChar->text(), QString("00"));
        QVERIFY(!w.edtChar->isEnabled());
        QVERIFY(w.btnClose->isDefault());
        const std::vector<std::tuple<int, QString, QString, bool>> clicks{
            {1, "Ones (0xFF)", "FF", false},
            {2, "ones odd, zeros even (0xAA)", "AA", false},
            {4, "Custom character", "AA", true}, // the text stays
            {3, "ones even, zeros odd (0x55)", "55", false},
            {5, "Random data", "", false},
            {4, "Custom character", "", true}, // empty after random: fills with 0
            {0, "Zero (0x00)", "00", false},
        };
        for (const auto& [item, caption, text, enabled] : clicks) {
            QAbstractButton* b = w.rgrWipeCharItems->button(item);
            QCOMPARE(b->text(), caption);
            b->click();
            QCOMPARE(w.edtChar->text(), text);
            QCOMPARE(w.edtChar->isEnabled(), enabled);
        }
        w.rgrWipeCharItems->button(4)->click();
        w.edtChar->clear();
        QTest::keyClicks(w.edtChar, "g1-Z f");
        QCOMPARE(w.edtChar->text(), QString("1f")); // only hexadecimal digits are typed
        QTest::keyClicks(w.edtChar, "A");
        QCOMPARE(w.edtChar->text(), QString("1f")); // cut to two characters
        w.edtChar->setText("ABCD");                 // pasted
        QCOMPARE(w.edtChar->text(), QString("AB"));
    }

    // The window's erase: exactly the range (canaries around it), Erase locked while it runs,
    // Stop, then a new run over the same range that goes to its end.
    void eraseWindowRunsStopsAndRunsAgain() {
        fixtures::TempDir dir;
        const std::string file = dir.file("disk.img");
        fixtures::writePatternFile(file, 65536, 3);
        TestBackend backend;
        ScriptedUi ui;
        ui.gate = {true, true};
        TfrmWipeData w(backend, helpers::selection(file, 1000, 40000, "Disk 2"), &ui);
        w.show();
        w.rgrWipeCharItems->button(1)->click();
        int pumps = 0;
        bool locked = true;
        w.jobControl().afterPump = [&] {
            locked = locked && !w.btnErase->isEnabled() && w.pgbProgress->isVisible();
            if (++pumps == 4) w.btnStop->click();
        };
        w.btnErase->click();
        QVERIFY(locked);
        QVERIFY(w.btnErase->isEnabled());
        QCOMPARE(ui.texts(), std::vector<std::string>{"Device Disk 2 erased."});
        auto bytes = fixtures::readFile(file);
        for (int64_t i = 0; i < 65536; ++i)
            QCOMPARE(bytes[size_t(i)],
                     i >= 1000 && i < 1000 + 4 * 2048 ? uint8_t(0xFF) : fixtures::patternByte(i, 3));

        w.jobControl().afterPump = nullptr;
        w.rgrWipeCharItems->button(4)->click();
        w.edtChar->setText("3c");
        w.btnErase->click();
        QCOMPARE(w.pgbProgress->value(), 100);
        bytes = fixtures::readFile(file);
        for (int64_t i = 0; i < 65536; ++i)
            QCOMPARE(bytes[size_t(i)], i >= 1000 && i < 41000 ? uint8_t(0x3C) : fixtures::patternByte(i, 3));
    }

    // Seek times of a few milliseconds: each tick of the vertical axis has a label of its own.
    // A name with markup in it is the chart's title as typed.
    void seekChartLabelsAndTitle() {
        fixtures::TempDir dir;
        TestBackend inner;
        probe::ProbeBackend backend(inner);
        FakeClock clock;
        backend.probe.clock = &clock;
        int64_t reads = 0;
        backend.probe.readMs = [&](int64_t) { return reads++ % 4; };
        ScriptedUi ui;
        const QString name = "x<u>y  z.bin";
        TfrmDriveSpeed w(backend, helpers::selection(sparse(dir, 64 << 20), 0, 64 << 20, name.toStdString()),
                         &ui);
        w.jobControl().clockOverride = &clock;
        w.show();
        w.btnSeektest->click();
        QCoreApplication::processEvents(); // the chart lays out its axes
        QStringList left, above;           // the texts left of the plot and above it
        for (QGraphicsItem* item : w.chtSpeedTest->scene()->items())
            if (auto* t = dynamic_cast<QGraphicsTextItem*>(item); t && !t->toPlainText().isEmpty()) {
                const QRectF at = t->sceneBoundingRect(), plot = w.chart->plotArea();
                if (at.right() <= plot.left() && at.center().y() < plot.bottom() + 1)
                    left << t->toPlainText();
                if (at.bottom() <= plot.top()) above << t->toPlainText();
            }
        QVERIFY2(left.size() >= 3 && QSet<QString>(left.begin(), left.end()).size() == left.size(),
                 qPrintable(left.join(' ')));
        QCOMPARE(above, QStringList{name});
    }

    void speedWindowChartsAcrossRuns() {
        fixtures::TempDir dir;
        const std::string file = sparse(dir, 128 << 20);
        TestBackend inner;
        probe::ProbeBackend backend(inner);
        FakeClock clock;
        backend.probe.clock = &clock;
        int64_t reads = 0;
        backend.probe.readMs = [&](int64_t) { return 1 + reads++ % 4; };
        ScriptedUi ui;
        TfrmDriveSpeed w(backend, helpers::selection(file, 0, 128 << 20, "Disk 3 (128 MiB)"), &ui);
        w.jobControl().clockOverride = &clock;
        w.show();
        QCOMPARE(w.windowTitle(), QString("Test drive speed"));
        QCOMPARE(w.chart->title(), QString("Disk 3 (128 MiB)"));
        QVERIFY(!w.chart->legend()->isVisible());
        QCOMPARE(w.Series1->name(), QString("Actual speed"));
        QCOMPARE(w.Series1->color(), QColor(Qt::blue));
        QCOMPARE(w.Series1->markerShape(), QScatterSeries::MarkerShapeRotatedRectangle);
        QCOMPARE(w.Series2->name(), QString("Moving average"));
        QCOMPARE(w.Series2->color(), QColor(Qt::red));
        QCOMPARE(w.Series3->color(), QColor(Qt::yellow));
        QCOMPARE(w.Series3->markerShape(), QScatterSeries::MarkerShapeRectangle);
        QCOMPARE(w.lblxaxis->text(), QString("X-axis: speed (kB/s)"));
        QCOMPARE(w.Label5->text(), QString("Y-axis: Position (MiB)"));
        QVERIFY(!w.grbSelection->isVisible() && !w.lblAverage->isVisible() && !w.lblMax->isVisible());
        QVERIFY(w.btnSpeedTest->isDefault());

        bool speedLocked = true;
        w.jobControl().afterPump = [&] {
            speedLocked = speedLocked && !w.btnSpeedTest->isEnabled() && w.btnSeektest->isEnabled();
        };
        w.btnSpeedTest->click();
        QVERIFY(speedLocked);
        QCOMPARE(w.Series1->count(), 1021);
        QCOMPARE(w.Series2->count(), 992);
        QVERIFY(w.lblAverage->isVisible() && w.lblAverage->text().startsWith("Average: "));
        QVERIFY(w.btnSpeedTest->isEnabled());
        const auto b = *w.chartData().bounds();
        QVERIFY(w.axisX->min() <= b.minX && w.axisX->max() >= b.maxX);
        QVERIFY(w.axisY->min() <= b.minY && w.axisY->max() >= b.maxY);

        // A second run, with a seek test started inside it: the points of the first run stay,
        // and once a seek test has run only seek tests can run in this window.
        int pumps = 0;
        bool inSeek = false, seekLocked = true;
        w.jobControl().afterPump = [&] {
            if (inSeek)
                seekLocked = seekLocked && !w.btnSpeedTest->isEnabled() && !w.btnSeektest->isEnabled();
            if (++pumps == 10) {
                inSeek = true;
                w.btnSeektest->click();
                inSeek = false;
            }
        };
        w.btnSpeedTest->click();
        QVERIFY(seekLocked);
        QCOMPARE(w.Series1->count(), 2042 + 512);
        int markers = 0;
        for (const QPointF& p : w.Series3->points())
            markers += p == QPointF(128, 2000);
        QCOMPARE(markers, 2);
        QCOMPARE(w.lblxaxis->text(), QString("X-axis: seek time(ms)"));
        QVERIFY(!w.btnSpeedTest->isEnabled());
        QVERIFY(w.btnSeektest->isEnabled());

        w.jobControl().afterPump = nullptr;
        w.btnSeektest->click();
        QCOMPARE(w.Series1->count(), 2042 + 1024);
        QCOMPARE(w.lblMax->text(), QString("100% done"));
        QVERIFY(w.btnSeektest->isEnabled());
        QVERIFY(!w.btnSpeedTest->isEnabled());

        ui.files = {dir.file("chart.png")};
        w.btnSaveChart->click();
        QVERIFY(QPixmap(QString::fromStdString(dir.file("chart.png"))).width() > 100);
        QVERIFY(ui.asked.empty());
    }
};

QTEST_MAIN(MaintenanceGuiTest)
#include "maintenance_gui_test.moc"
