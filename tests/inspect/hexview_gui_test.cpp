// The hex viewer and byte map windows under the offscreen platform, over files and image files
// shown as drives; questions and the gate are answered by the scripted dialogs.

#include "core/selection.h"
#include "discovery/demo_drive.h"
#include "inspect/gui/graphical.h"
#include "inspect/gui/hexview_model.h"
#include "inspect/gui/hexview_window.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/shown_text.h"
#include "support/test_backend.h"
#include "ui/application.h"
#include "ui/job_control.h"

#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTest>

#include <utility>

using fixtures::patternByte;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

QString hex2(uint8_t b) {
    return QString::fromStdString(hexview::hexAddress(b).substr(6));
}

template <class W> QList<W*> windowsOf() {
    QList<W*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<W*>(w); t && t->isVisible()) found << t;
    return found;
}

// Whether the map's first `rows` rows show white on screen, read from what was painted into the
// window's backing store (QWidget::grab would paint them anew, change or no change on screen).
bool shownWhite(TfrmGraphical& w, int rows) {
    QCoreApplication::processEvents(); // repaints asked for are done
    const QImage screen = w.screen()->grabWindow(w.winId()).toImage();
    const QRect area = w.imgMap->visibleRegion().boundingRect() & QRect(0, 0, bytemap::kWidth, rows);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (screen.pixelColor(w.imgMap->mapTo(&w, QPoint(x, y))) != Qt::white) return false;
    return true;
}

// The lowest row of a picture that holds ink, or -1.
int lowestInk(const QImage& image) {
    for (int y = image.height() - 1; y >= 0; --y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 160) return y;
    return -1;
}

void deleteNow() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Clicks `start` on a window opened from the menu and closes the window at the job's first pump,
// with deferred deletions run there and then: true when the window outlived its job, hidden, and
// went once the job had returned.
template <class W> bool goesOnlyAfterItsJob(QPointer<W> w, QAbstractButton* start) {
    bool survived = true;
    w->jobControl().afterPump = [&] {
        w->close();
        deleteNow();
        survived = survived && w;
    };
    start->click();
    survived = survived && w && w->isHidden();
    deleteNow();
    if (w) w->jobControl().afterPump = nullptr;
    return survived && w.isNull();
}

void moveOver(QWidget* w, QPoint p) {
    QMouseEvent move(QEvent::MouseMove, p, w->mapToGlobal(p), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

} // namespace

class InspectGuiTest : public QObject {
    Q_OBJECT

private slots:
    void hexViewerAsBuiltAndItsTwoLayouts() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("data.bin"), 1 << 20, 2);
        TestBackend backend;
        ScriptedUi ui;
        const TFileInfo sel = selection::fromFile(backend, TFileInfo{}, dir.file("data.bin"));
        QPointer<TfrmHexView> w = OpenHexView(backend, sel, nullptr, &ui);
        QTRY_COMPARE(w->lblInfo->text(), QString("Displaying 65536 bytes (64kB)"));
        QCOMPARE(w->windowTitle(), QString("Hex viewer and editor"));
        QCOMPARE(w->lblDevice->text(), QString::fromStdString(sel.Description));
        QCOMPARE(w->lblSize->text(), QString("1048576"));
        QCOMPARE(w->lblRead->text(), QString("Read 65536 bytes (64kB)"));
        HexPageModel* m = w->model();
        QCOMPARE(m->columnCount(), 18);
        QCOMPARE(m->rowCount(), 4096);
        QCOMPARE(m->headerData(16, Qt::Horizontal, Qt::DisplayRole).toString(), QString("0F"));
        QCOMPARE(m->data(m->index(32, 0), Qt::DisplayRole).toString(), QString("00000200"));
        QCOMPARE(m->data(m->index(32, 1), Qt::DisplayRole).toString(), hex2(patternByte(0x200, 2)));
        QCOMPARE(m->data(m->index(32, 17), Qt::BackgroundRole).value<QColor>(), QColor(255, 255, 204));
        QVERIFY(!m->data(m->index(31, 1), Qt::BackgroundRole).isValid());
        QVERIFY(!m->data(m->index(32, 0), Qt::BackgroundRole).isValid());
        const QList<int> widths16{75, 16, 24, 24, 144};
        QCOMPARE((QList<int>{w->sgdHexview->columnWidth(0), w->sgdHexview->columnWidth(7),
                             w->sgdHexview->columnWidth(8), w->sgdHexview->columnWidth(16),
                             w->sgdHexview->columnWidth(17)}),
                 widths16);
        QVERIFY(w->sgdHexview->verticalHeader()->defaultSectionSize() >= 14);
        // The navigation buttons carry their distances.
        QList<qint64> distances;
        for (QPushButton* b : {w->Button1, w->btnPrev, w->Button2, w->Button3, w->btnNext, w->Button4})
            distances << b->property(TfrmHexView::kDistance).toLongLong();
        QCOMPARE(distances, (QList<qint64>{65536, 4096, 512, 512, 4096, 65536}));

        w->Button3->click();
        QCOMPARE(w->viewer().viewStart(), 512);
        w->resize(900, 497);
        QTRY_COMPARE(w->viewer().rowWidth(), 32);
        QTRY_COMPARE(w->lblInfo->text(), QString("Displaying 131072 bytes (128kB)"));
        QCOMPARE(w->viewer().viewStart(), 512);
        QCOMPARE(m->columnCount(), 34);
        QCOMPARE(m->data(m->index(16, 0), Qt::DisplayRole).toString(), QString("00000400"));
        QCOMPARE((QList<int>{w->sgdHexview->columnWidth(16), w->sgdHexview->columnWidth(24),
                             w->sgdHexview->columnWidth(32), w->sgdHexview->columnWidth(33)}),
                 (QList<int>{28, 24, 24, 272}));
        w->resize(700, 497);
        QTest::qWait(20);
        QCOMPARE(w->viewer().rowWidth(), 32);
        w->resize(600, 497);
        QTRY_COMPARE(m->columnCount(), 18);
        // Closed during a refresh: the refresh stops, the window goes once it has returned.
        w->jobControl().afterPump = [&] { w->close(); };
        w->btnRefresh->click();
        QVERIFY(w->isHidden());
        QVERIFY(w->viewer().page().blockCount() < 128);
        QTRY_VERIFY(w.isNull());
    }

    void navigationJumpAndSelectedCells() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("data.bin"), 1 << 20, 2);
        TestBackend backend;
        ScriptedUi ui;
        TfrmHexView w(backend, selection::fromFile(backend, TFileInfo{}, dir.file("data.bin")), nullptr, &ui);
        w.show();
        QTRY_VERIFY(w.viewer().page().blockCount() > 0);
        w.btnEnd->click();
        QCOMPARE(w.viewer().viewStart(), (1 << 20) - 16384);
        QCOMPARE(w.edtAddress->text(), QString("000FC000"));
        w.Button4->click();
        QCOMPARE(w.viewer().viewStart(), (1 << 20) - 16384);
        w.btnStart->click();
        QCOMPARE(w.viewer().viewStart(), 0);
        w.edtAddress->setText("1234");
        w.btnGo->click();
        QCOMPARE(w.edtAddress->text(), QString("00001200"));
        QCOMPARE(w.model()->data(w.model()->index(0, 0), Qt::DisplayRole).toString(), QString("00001200"));
        w.sgdHexview->setCurrentIndex(w.model()->index(1, 3));
        QCOMPARE(w.edtAddress->text(), QString("00001212"));
        w.sgdHexview->setCurrentIndex(w.model()->index(2, 17));
        QCOMPARE(w.edtAddress->text(), QString("00001220"));
        w.edtAscii->setText("abc");
        w.edtHex->setText("4");
        QVERIFY(w.edtAscii->text().isEmpty());
        // A stop during a long filtered scan ends it at its next block.
        w.jobControl().afterPump = [&] { w.btnStop->click(); };
        w.rgrFilterItems->button(int(hexview::Filter::SkipBlank))->click();
        QCOMPARE(w.viewer().page().blockCount(), 1);
        QVERIFY(!w.viewer().refreshing());
    }

    void typedDigitsWriteTheByte() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("d0.img"), 64 * 1024, 3);
        TestBackend backend;
        backend.addDrive(VirtualDrive(dir.file("d0.img")));
        backend.drive(0).writable = platform::ByteRange::of(0, 512);
        TFileInfo sel;
        sel.FileName = "\\\\.\\PHYSICALDRIVE0";
        sel.Description = "PHYSICALDRIVE 0";
        sel.Size = sel.BaseSize = 64 * 1024;
        ScriptedUi ui;
        ui.gate = {true};
        TfrmHexView w(backend, sel, nullptr, &ui);
        w.show();
        QTRY_VERIFY(w.viewer().page().blockCount() > 0);
        w.Readandwrite1->trigger();
        w.sgdHexview->setFocus();
        w.sgdHexview->setCurrentIndex(w.model()->index(2, 3)); // byte 0x22
        const uint8_t value = uint8_t(~patternByte(0x22, 3));
        const QString digits = hex2(value);
        QTest::keyClick(w.sgdHexview, 'g'); // dropped: no editor opens
        QVERIFY(!w.sgdHexview->findChild<QLineEdit*>());
        QTest::keyClick(w.sgdHexview, digits[0].toLatin1());
        auto* editor = w.sgdHexview->findChild<QLineEdit*>();
        QVERIFY(editor);
        QCOMPARE(editor->text(), digits.left(1));
        QTest::keyClick(editor, 'x'); // dropped in the editor too
        QCOMPARE(editor->text(), digits.left(1));
        QTest::keyClick(editor, digits[1].toLatin1());
        QTRY_COMPARE(w.model()->data(w.model()->index(2, 3), Qt::DisplayRole).toString(), digits);
        QCOMPARE(ui.gateTargets.size(), size_t(1));
        QCOMPARE(ui.gateTargets[0].Offset, 0x22);
        const auto bytes = fixtures::readFile(dir.file("d0.img"));
        for (int64_t i = 0; i < 64 * 1024; ++i)
            QCOMPARE(bytes[size_t(i)], i == 0x22 ? value : patternByte(i, 3));
        QVERIFY(backend.violations().empty());
        QVERIFY(ui.asked.empty());
    }

    // A g keeps its tail (as p and y would) with a font taller than 14 pixels a row, as
    // the font put in for "Courier New" is on some systems.
    void gridRowsHoldWholeLetters() {
        fixtures::TempDir dir;
        fixtures::writeFile(dir.file("gpy.txt"), std::vector<uint8_t>(512, 'g'));
        TestBackend backend;
        ScriptedUi ui;
        TfrmHexView w(backend, selection::fromFile(backend, TFileInfo{}, dir.file("gpy.txt")), nullptr, &ui);
        w.show();
        QTRY_VERIFY(w.viewer().page().blockCount() > 0);
        QFont font = w.sgdHexview->font();
        font.setPixelSize(20);
        w.sgdHexview->setFont(font);
        const QFontMetrics metrics(font);
        const QRect cell = w.sgdHexview->visualRect(w.model()->index(0, 17));
        QVERIFY(cell.height() >= hexview::kCellTextInset + metrics.height());
        // The text column's g's, as painted: ink below the baseline.
        QVERIFY(lowestInk(w.sgdHexview->viewport()->grab(cell).toImage()) >
                hexview::kCellTextInset + metrics.ascent());
    }

    // The demo disk as drive 0 of `backend`, and a selection of it to narrow.
    static TFileInfo demoDrive(const fixtures::TempDir& dir, TestBackend& backend) {
        demo::writeDemoImage(dir.file("demo.img"));
        backend.addDrive(VirtualDrive(dir.file("demo.img")));
        TFileInfo sel;
        sel.FileName = "\\\\.\\PHYSICALDRIVE0";
        return sel;
    }

    // Descriptions that look like markup, and a map that a Forward past the data's end leaves
    // white: shown as they are.
    void namesAndAnEmptyMapShowAsTheyAre() {
        fixtures::TempDir dir;
        TestBackend backend;
        TFileInfo sel = demoDrive(dir, backend);
        sel.Description = "x<u>y  z.bin";
        sel.Size = sel.BaseSize = demo::kImageSize;
        ScriptedUi ui;
        TfrmHexView viewer(backend, sel, nullptr, &ui);
        TfrmGraphical w(backend, sel, nullptr, &ui);
        QCOMPARE(shownText(viewer.lblDevice), QString("x<u>y  z.bin"));
        QCOMPARE(shownText(w.lblDeviceName), QString("x<u>y  z.bin"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.btnDraw->click();
        QVERIFY(!shownWhite(w, 1));
        w.btnForward->click(); // 256 MiB on: nothing there to draw
        QVERIFY(shownWhite(w, bytemap::kMaxRows));
    }

    void mapDrawsReadsOutSavesAndOpensTheViewer() {
        fixtures::TempDir dir;
        TestBackend backend;
        TFileInfo sel = demoDrive(dir, backend);
        sel.Description = "PHYSICALDRIVE 0";
        sel.DefaultName = "DRIVE_0";
        sel.Offset = sel.BaseOffset = 1 << 20;
        sel.Size = sel.BaseSize = 63 << 20;
        ScriptedUi ui;
        QPointer<TfrmGraphical> w = OpenGraphical(backend, sel, nullptr, &ui);
        QVERIFY(QTest::qWaitForWindowExposed(w));
        QCOMPARE(w->windowTitle(), QString("Graphical presentation of data on specified device"));
        QCOMPARE(w->edtOffset->text(), QString("1048576"));
        QVERIFY(w->btnStop->isHidden());
        QVERIFY(!w->Saveimage1->isEnabled());
        // A double-click while the drawing runs opens nothing.
        bool clicked = false, stopShown = false;
        w->jobControl().afterPump = [&] {
            stopShown = stopShown || w->btnStop->isVisible();
            if (!std::exchange(clicked, true))
                QTest::mouseDClick(w->imgMap, Qt::LeftButton, {}, QPoint(1, 1));
        };
        w->btnDraw->click();
        QVERIFY(clicked && stopShown);
        QVERIFY(windowsOf<TfrmHexView>().isEmpty());
        QVERIFY(!w->btnDraw->isEnabled());
        QVERIFY(w->btnForward->isEnabled());
        QVERIFY(w->btnStop->isHidden());
        QCOMPARE(w->imgMap->size(), QSize(1024, 126));

        moveOver(w->imgMap, QPoint(2, 0));
        QCOMPARE(w->lblSecNr->text(), QString("00000802"));
        QCOMPARE(w->lblPosition->text(), QString("00100400"));
        QCOMPARE(w->lblPosRelative->text(), QString("00000400"));

        QTest::mouseDClick(w->imgMap, Qt::LeftButton, {}, QPoint(5, 1));
        const auto viewers = windowsOf<TfrmHexView>();
        QCOMPARE(viewers.size(), 1);
        QCOMPARE(viewers[0]->viewer().viewStart(), (1 << 20) + 1029 * 512);
        QCOMPARE(viewers[0]->viewer().file().Size, sel.Size);
        QTRY_COMPARE(viewers[0]->model()->data(viewers[0]->model()->index(0, 0), Qt::DisplayRole).toString(),
                     QString::fromStdString(hexview::hexAddress((1 << 20) + 1029 * 512)));
        viewers[0]->close();

        ui.files = {dir.file("map.png")};
        w->Saveimage1->trigger();
        const QImage png(dir.file("map.png").c_str());
        QCOMPARE(png.size(), QSize(1024, 126));
        const auto pixel = [&](int64_t sector) {
            const int64_t p = sector - 2048;
            return png.pixelColor(int(p % 1024), int(p / 1024));
        };
        QVERIFY(pixel(demo::kTextStart + 100).red() > 200);
        QVERIFY(pixel(demo::kBinaryStart + 100).green() > 150);
        QCOMPARE(pixel(demo::kEmptyTailStart + 100), QColor(0, 0, 255));
        QCOMPARE(w->map().image().at(0, 0).red, uint8_t(png.pixelColor(0, 0).red()));

        w->close();
        QTRY_VERIFY(w.isNull());

        // Closing a window during its drawing stops it; the window goes once the drawing returned.
        QPointer<TfrmGraphical> second = OpenGraphical(backend, sel, nullptr, &ui);
        int pumps = 0;
        second->jobControl().afterPump = [&] {
            ++pumps;
            second->close();
        };
        second->btnDraw->click();
        QVERIFY(pumps > 0 && pumps < 16);
        QTRY_VERIFY(second.isNull());
        QCOMPARE(backend.openStreams(), 0);
    }

    // Opened from the menu, a viewer or a map goes once it is closed and idle, but never while its
    // job is on the stack, however soon deferred deletions run; a viewer its owner made stays.
    void windowsFromTheMenuGoOnceClosedAndIdle() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("data.bin"), 8 << 20, 2);
        TestBackend backend;
        ScriptedUi ui;
        const TFileInfo sel = selection::fromFile(backend, TFileInfo{}, dir.file("data.bin"));

        QPointer<TfrmHexView> viewer = OpenHexView(backend, sel, nullptr, &ui);
        QTRY_VERIFY(viewer->viewer().page().blockCount() > 0);
        viewer->close();
        deleteNow();
        QVERIFY(viewer.isNull());

        QPointer<TfrmHexView> owned = new TfrmHexView(backend, sel, nullptr, &ui);
        owned->show();
        QTRY_VERIFY(owned->viewer().page().blockCount() > 0);
        owned->close();
        deleteNow();
        QVERIFY(owned && owned->isHidden());
        delete owned;

        viewer = OpenHexView(backend, sel, nullptr, &ui);
        QTRY_VERIFY(viewer->viewer().page().blockCount() > 0);
        QVERIFY(goesOnlyAfterItsJob(viewer, viewer->btnRefresh));
        QPointer<TfrmGraphical> map = OpenGraphical(backend, sel, nullptr, &ui);
        QVERIFY(goesOnlyAfterItsJob(map, map->btnDraw));
        QCOMPARE(backend.openStreams(), 0);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    InspectGuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "hexview_gui_test.moc"
