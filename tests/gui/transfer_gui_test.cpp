// The overwrite gate's window, and the transfers started from the main window's buttons.

#include "app/gui/mainwindow.h"
#include "jobs/gate.h"
#include "jobs/range_job.h"
#include "maintenance/gui/erase_window.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "transfer/transfer.h"
#include "ui/application.h"
#include "ui/confirmation_dialog.h"
#include "ui/job_control.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>

using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

TFileInfo mebibyte() {
    TFileInfo t;
    t.Description = "LOGICAL DRIVE 1   ( 1 MiB ) offset: 0 size: 1048576";
    t.Offset = 0;
    t.Size = 1048576;
    return t;
}

} // namespace

class TransferGuiTest : public QObject {
    Q_OBJECT

private slots:
    void gateWindowAsBuilt() {
        TfrmConfirmation w(mebibyte());
        QCOMPARE(w.windowTitle(), QString("Confirm data overwrite"));
        QCOMPARE(w.size(), QSize(563, 554));
        QCOMPARE(w.lblWarning->text(), QString("Warning"));
        QCOMPARE(w.lblDevice->text(), QString("LOGICAL DRIVE 1   ( 1 MiB ) offset: 0 size: 1048576"));
        QCOMPARE(w.lblOffset->text(), QString("0"));
        QCOMPARE(w.lblSize->text(), QString("1048576"));
        QStringList tabs;
        for (int i = 0; i < w.pgcLanguages->count(); ++i)
            tabs << w.pgcLanguages->tabText(i);
        QCOMPARE(tabs, QStringList({"&English", "Nederlands", "Français", "Italiano", "Espanol", "Portuguesa",
                                    "Deutsch", "USA"}));
        QCOMPARE(w.pgcLanguages->tabText(w.pgcLanguages->currentIndex()), QString("USA"));
        QCOMPARE(w.btnOk->text(), QString("&Ok"));
        QCOMPARE(w.btnCancel->text(), QString("&Cancel"));
        QVERIFY(!w.btnOk->isEnabled());
        QVERIFY(w.edtAgree->text().isEmpty());
    }

    // On screen the gate keeps its size and stands over the window that asked (the erase window,
    // the main window), or in the middle of the desktop.
    void gateWindowOpensAtItsSizeCentredOnTheDesktop() {
        TestBackend backend;
        ScriptedUi ui;
        TfrmMain main(TfrmMain::Options{.backend = &backend, .dialogs = &ui});
        TfrmWipeData erase(backend, mebibyte(), &ui, &main);
        main.resize(700, 560);
        const QRect desktop = main.screen()->availableGeometry();
        for (QWidget* owner : std::initializer_list<QWidget*>{&main, &erase, nullptr}) {
            if (owner) {
                owner->show();
                owner->move(desktop.center() - owner->rect().center() +
                            QPoint(owner == &main ? -60 : 90, 15));
                QCoreApplication::processEvents(); // the window system's answer to a move
            }
            TfrmConfirmation w(mebibyte(), owner);
            w.show();
            QCoreApplication::processEvents();
            QCOMPARE(w.size(), QSize(563, 554));
            QCOMPARE(w.frameGeometry().center(), desktop.center());
        }
    }

    void typedAgreementUnlocksOk() {
        TfrmConfirmation w(mebibyte());
        const std::vector<std::pair<QString, bool>> cases{
            {"i agree", true}, {"I AGREE", true},   {"  I Agree \t", true}, {"i  agree", false},
            {"iagree", false}, {"i agree.", false}, {"i agre", false},      {"", false}};
        for (const auto& [text, unlocked] : cases) {
            w.edtAgree->setText(text);
            QVERIFY2(w.btnOk->isEnabled() == unlocked, qPrintable(text));
        }
        w.edtAgree->setText("i agree");
        QTest::keyClick(w.edtAgree, Qt::Key_Backspace);
        QVERIFY(!w.btnOk->isEnabled()); // deleting a character locks it again
    }

    void enterAndEscapeCloseNothing() {
        TfrmConfirmation w(mebibyte());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::keyClick(&w, Qt::Key_Escape);
        QTest::keyClick(w.edtAgree, Qt::Key_Return);
        QVERIFY(w.isVisible());
        QTest::keyClicks(w.edtAgree, "i agree");
        QTest::keyClick(w.edtAgree, Qt::Key_Return);
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), int(QDialog::Rejected));
    }

    // The window hands back what was typed; the engine's gate then asks its question.
    void gateNeedsAgreementAndYes() {
        struct WindowDialogs : ScriptedUi {
            std::function<int(TfrmConfirmation&)> run;
            std::optional<std::string> typedAgreement(const TFileInfo& target,
                                                      const std::string& disk) override {
                return ShowConfirmation(target, disk, nullptr, run);
            }
        };
        const auto typeAndOk = [](TfrmConfirmation& d) {
            d.show();
            d.btnOk->click(); // disabled: nothing happens
            QTest::keyClicks(d.edtAgree, "I agree");
            d.btnOk->click();
            return d.result();
        };
        TestBackend backend;
        for (const auto& [answer, expected] : std::vector<std::pair<Button, bool>>{
                 {Button::Yes, true}, {Button::No, false}, {Button::Cancel, false}}) {
            WindowDialogs ui;
            ui.run = typeAndOk;
            ui.answers = {answer};
            QCOMPARE(gate::ConfirmOverwrite(backend, ui, mebibyte()), expected);
            QCOMPARE(ui.texts(),
                     std::vector<std::string>{"You are sure you want to overwrite LOGICAL DRIVE 1   "
                                              "( 1 MiB ) offset: 0 size: 1048576"});
            QCOMPARE(ui.asked[0].buttons, (std::vector<Button>{Button::Yes, Button::No, Button::Cancel}));
        }
        WindowDialogs ui;
        ui.run = [](TfrmConfirmation& d) {
            d.btnCancel->click();
            return d.result();
        };
        QVERIFY(!gate::ConfirmOverwrite(backend, ui, mebibyte()));
        QVERIFY(ui.asked.empty()); // no second question after Cancel
    }

    // The gate's window names the disk under the target as it is when the gate asks (drive 1
    // turns into a stick after the list was read), not another drive's; a file gets no such line.
    void gateWindowNamesTheTargetsDisk() {
        fixtures::TempDir dir;
        TestBackend backend;
        for (const char* name : {"d0.img", "d1.img"}) {
            fixtures::writePatternFile(dir.file(name), 1 << 20);
            backend.addDrive(VirtualDrive(dir.file(name)));
        }
        backend.drive(0).identity = {
            .node = "/dev/sdx", .model = "", .serial = "AAA1", .vendor = "", .bus = ""};
        struct Shown : ScriptedUi {
            QStringList lines;
            std::optional<std::string> typedAgreement(const TFileInfo& target,
                                                      const std::string& disk) override {
                return ShowConfirmation(target, disk, nullptr, [this](TfrmConfirmation& d) {
                    lines << (d.lblDisk->isHidden() ? QString() : d.lblDisk->text());
                    return int(QDialog::Rejected);
                });
            }
        } ui;
        TfrmMain::Options o;
        o.backend = &backend;
        o.dialogs = &ui;
        TfrmMain w(o);
        w.tmrDeviceChangeTimer();
        backend.drive(1).identity = {
            .node = "/dev/sdy", .model = "Ultra", .serial = "BBB2", .vendor = "SanDisk", .bus = "usb"};
        for (int row : {1, 0}) {
            w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(row));
            w.btnReadFile->click();
        }
        ui.files = {dir.file("d0.img")};
        w.Selectfile1Click();
        w.btnReadFile->click();
        QCOMPARE(ui.lines, QStringList({"Disk: /dev/sdy  SanDisk Ultra  BBB2  1.0 MB",
                                        "Disk: /dev/sdx  AAA1  1.0 MB", ""}));
    }

    void mainWindowTransfersEndWithTheButtonsEnabled() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("d0.img"), 1 << 20);
        fixtures::writePatternFile(dir.file("d1.img"), 1 << 20, 9);
        TestBackend backend;
        backend.addDrive(VirtualDrive(dir.file("d0.img")));
        backend.addDrive(VirtualDrive(dir.file("d1.img")));
        ScriptedUi ui;
        TfrmMain::Options o;
        o.backend = &backend;
        o.dialogs = &ui;
        TfrmMain w(o);
        w.tmrDeviceChangeTimer();
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        ui = ScriptedUi{};

        // Dump through the button.
        ui.files = {dir.file("d0.raw")};
        w.btnWriteFile->click();
        QCOMPARE(ui.texts().back(), std::string("Dump successfully completed"));
        QCOMPARE(fixtures::readFile(dir.file("d0.raw")), fixtures::readFile(dir.file("d0.img")));
        for (QPushButton* b : w.findChildren<QPushButton*>())
            QVERIFY(b == w.btnStop || b->isEnabled());
        QVERIFY(w.btnStop->isHidden());
        QCOMPARE(w.pgbProgress->value(), 100);

        // Restore onto drive 1, refused at "Stop now?": nothing written, buttons back.
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        ui = ScriptedUi{};
        ui.gate = {true};
        ui.files = {dir.file("d0.raw")};
        ui.answers = {Button::Ok, Button::Yes, Button::Yes};
        w.btnReadFile->click();
        QCOMPARE(ui.gateTargets.size(), size_t(1));
        QCOMPARE(fixtures::readFile(dir.file("d1.img"))[0], fixtures::patternByte(0, 9));
        for (QPushButton* b : w.findChildren<QPushButton*>())
            QVERIFY(b == w.btnStop || b->isEnabled());

        // Then accepted: drive 1 now holds drive 0's bytes.
        ui = ScriptedUi{};
        ui.gate = {true};
        ui.files = {dir.file("d0.raw")};
        ui.answers = {Button::Ok, Button::Yes, Button::Ignore};
        w.menuItem("LoadFromFile1")->trigger();
        QCOMPARE(ui.texts().back(), std::string("Writing image file to device successfully completed"));
        QCOMPARE(fixtures::readFile(dir.file("d1.img")), fixtures::readFile(dir.file("d0.img")));

        // Asked for in the Extra menu, the restore reads its target back.
        w.menuItem("Verifyafterwriting1")->setChecked(true);
        ui = ScriptedUi{};
        ui.gate = {true};
        ui.files = {dir.file("d0.raw")};
        ui.answers = {Button::Ok, Button::Yes, Button::Ignore};
        w.btnReadFile->click();
        QCOMPARE(ui.texts().back().rfind("Verified: all 1048576 bytes", 0), size_t(0));
        w.menuItem("Verifyafterwriting1")->setChecked(false);

        // Direct copy between the two: the gate is asked with the target.
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        w.btnSetSource->click();
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        w.btnSetTarget->click();
        QVERIFY(w.btnInstantCopy->isEnabled());
        ui = ScriptedUi{};
        ui.gate = {false};
        w.btnInstantCopy->click();
        QCOMPARE(ui.gateTargets.at(0).FileName, w.CopyTarget.FileName);
        QVERIFY(w.btnInstantCopy->isEnabled());
        QVERIFY(backend.violations().empty());
        QCOMPARE(backend.openStreams(), 0);
    }

    // Rows keep the identity of the device they were read from: a drive swapped after it was
    // selected (a stick pulled while the gate was open) is not written.
    void aDriveThatChangedAfterItsSelectionIsNotWritten() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("d0.img"), 1 << 20);
        fixtures::writeMbr(dir.file("d0.img"), {{0x83, 64, 100}});
        fixtures::writePatternFile(dir.file("d1.img"), 1 << 20, 9);
        fixtures::writePatternFile(dir.file("other.img"), 1 << 20, 5);
        fixtures::writePatternFile(dir.file("img.raw"), 1 << 20, 7);
        TestBackend backend;
        backend.addDrive(VirtualDrive(dir.file("d0.img")));
        backend.addDrive(VirtualDrive(dir.file("d1.img")));
        ScriptedUi ui;
        TfrmMain::Options o;
        o.backend = &backend;
        o.dialogs = &ui;
        TfrmMain w(o);
        w.tmrDeviceChangeTimer();
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        const std::string drive0 = w.Selection.Identity;
        QVERIFY(!drive0.empty());
        w.lvwPartitions->setCurrentItem(w.lvwPartitions->topLevelItem(0));
        QCOMPARE(w.Selection.Identity, drive0);

        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        backend.drive(1).imagePath = dir.file("other.img");
        ui = ScriptedUi{};
        ui.gate = {true};
        ui.files = {dir.file("img.raw")};
        ui.answers = {Button::Ok, Button::Yes, Button::Ignore};
        w.btnReadFile->click();
        QVERIFY(ui.texts().back().find("is no longer what was selected") != std::string::npos);
        QCOMPARE(fixtures::readFile(dir.file("other.img"))[0], fixtures::patternByte(0, 5));
        QCOMPARE(fixtures::readFile(dir.file("d1.img"))[0], fixtures::patternByte(0, 9));
    }

    // Redrawing the bar at every percent had cost a dump of 1 GiB a tenth of its time: it is
    // redrawn at most ten times a second, and at the end.
    void aDumpRedrawsTheBarAFewTimesASecondAndEndsWithItAndTheStatusLineAtTheEnd() {
        // 2048 blocks: the last ones arrive within the window's repaint interval.
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("d0.img"), 16 << 20);
        TestBackend backend;
        backend.addDrive(VirtualDrive(dir.file("d0.img")));
        ScriptedUi ui;
        TfrmMain::Options o;
        o.backend = &backend;
        o.dialogs = &ui;
        TfrmMain w(o);
        w.tmrDeviceChangeTimer();
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        ui = ScriptedUi{};
        ui.files = {dir.file("d0.raw")};
        int redraws = 0;
        connect(w.pgbProgress, &QProgressBar::valueChanged, [&] { ++redraws; });
        QElapsedTimer took;
        took.start();
        w.btnWriteFile->click();
        QCOMPARE(ui.texts().back(), std::string("Dump successfully completed"));
        QCOMPARE(w.pgbProgress->value(), 100);
        QVERIFY2(redraws <= 2 + took.elapsed() / 100,
                 qPrintable(QString("%1 redraws in %2 ms").arg(redraws).arg(took.elapsed())));
        // "100.00% done", with the locale's decimal separator.
        QCOMPARE(w.sbrProgress->text(),
                 QString::fromStdString(jobs::percentDoneText(1, 1, platform::decimalSeparator())));
    }

    // What SIGTERM, SIGHUP and Ctrl+C do to the window, half-way through a dump: the dump stops
    // and says so, and the window closes once the dump has returned.
    void stopAndCloseEndsARunningDump() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("d0.img"), 16 << 20);
        TestBackend backend;
        backend.addDrive(VirtualDrive(dir.file("d0.img")));
        ScriptedUi ui;
        TfrmMain::Options o;
        o.backend = &backend;
        o.dialogs = &ui;
        TfrmMain w(o);
        w.show();
        w.tmrDeviceChangeTimer();
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        ui = ScriptedUi{};
        ui.files = {dir.file("d0.raw")};
        int pumps = 0;
        w.jobControl().afterPump = [&] {
            if (++pumps == 100) w.stopAndClose();
        };
        w.btnWriteFile->click();
        QCOMPARE(pumps, 100);
        const auto size = std::filesystem::file_size(dir.file("d0.raw"));
        QCOMPARE(ui.texts(),
                 std::vector<std::string>{"Dump incomplete, wrote only " + std::to_string(size) +
                                          " bytes of 16777216 bytes total. It is unlikely you can "
                                          "import this backup again."});
        // The status line shows where it stopped, though that update came within the repaint interval.
        QCOMPARE(w.sbrProgress->text(), QString::fromStdString(jobs::percentDoneText(
                                            int64_t(size), 16 << 20, platform::decimalSeparator())));
        QVERIFY(w.StopRequested);
        QVERIFY(w.btnStop->isHidden());
        QVERIFY(w.isVisible()); // closing waits for the dump to return
        QTRY_VERIFY(!w.isVisible());
        // Later choices take their safe answer without being shown.
        ui = ScriptedUi{};
        QCOMPARE(
            w.dialogs().ask(Question{"Sure?", Icon::Question, {Button::Yes, Button::No}, Button::No, {}}),
            Button::No);
        QVERIFY(ui.asked.empty());
    }

    void dumpAndRestoreRealLoopDevicesThroughTheWindow() {
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("a.img"), 3 << 20, 1);
        fixtures::writePatternFile(dir.file("b.img"), 3 << 20, 2);
        fixtures::LoopDevice a(dir.file("a.img")), b(dir.file("b.img"));
        if (!a.available() || !b.available()) QSKIP(a.reason().c_str());
        ScriptedUi ui;
        TfrmMain::Options o;
        o.dialogs = &ui;
        TfrmMain w(o);
        w.tmrDeviceChangeTimer();
        const auto rowOf = [&](const std::string& node) -> QTreeWidgetItem* {
            for (int i = 0; i < w.lvwLogicalDrives->topLevelItemCount(); ++i)
                if (platform::systemBackend().physicalDriveNode(i) == node)
                    return w.lvwLogicalDrives->topLevelItem(i);
            return nullptr;
        };
        QTreeWidgetItem* rowA = rowOf(a.node());
        QTreeWidgetItem* rowB = rowOf(b.node());
        if (!rowA || !rowB) QSKIP("an earlier drive of this machine refused to open and ended the scan");

        w.lvwLogicalDrives->setCurrentItem(rowA);
        ui = ScriptedUi{};
        ui.files = {dir.file("a.raw")};
        w.btnWriteFile->click();
        QCOMPARE(ui.texts().back(), std::string("Dump successfully completed"));

        w.lvwLogicalDrives->setCurrentItem(rowB);
        ui = ScriptedUi{};
        ui.gate = {true};
        ui.files = {dir.file("a.raw")};
        ui.answers = {Button::Ok, Button::Yes, Button::Ignore};
        w.btnReadFile->click();
        QCOMPARE(ui.texts().back(), std::string("Writing image file to device successfully completed"));
        QCOMPARE(fixtures::shell("cmp -s " + a.node() + " " + b.node()), 0);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TransferGuiTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "transfer_gui_test.moc"
