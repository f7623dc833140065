// The main window under the offscreen platform: captions and menus, the selection editor, the
// popup mirror of the Selection menu, busy mode, the stop question and the device watch.

#include "app/gui/mainwindow.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "ui/application.h"
#include "ui/job_control.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <signal.h>

#include <fstream>
#include <functional>
#include <memory>

using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

// A menu as text: captions, "-" for separators, "[hidden]"/"[disabled]" marks, submenus indented.
QStringList describe(const QMenu* menu, const QString& indent = "") {
    QStringList out;
    for (const QAction* a : menu->actions()) {
        if (a->isSeparator()) {
            out << indent + "-";
            continue;
        }
        QString line = indent + a->text();
        if (!a->isVisible())
            line += " [hidden]"; // hidden actions also report themselves disabled
        else if (!a->isEnabled())
            line += " [disabled]";
        out << line;
        if (a->menu()) out << describe(a->menu(), indent + "  ");
    }
    return out;
}

QMenu* topMenu(TfrmMain& w, const QString& caption) {
    for (QAction* a : w.menuBar()->actions())
        if (a->text() == caption) return a->menu();
    return nullptr;
}

QStringList headers(const QTreeWidget* list) {
    QStringList titles;
    for (int c = 0; c < list->columnCount(); ++c)
        if (!list->header()->isSectionHidden(c)) titles << list->headerItem()->text(c);
    return titles;
}

volumes::VolumeRow volumeRow(const char* label, char letter, int type, int64_t bytes) {
    volumes::VolumeRow row;
    row.label = label;
    row.letter = letter;
    row.driveType = type;
    row.fileSystem = "NTFS";
    row.totalBytes = bytes;
    return row;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    fixtures::TempDir dir_;
    std::unique_ptr<TestBackend> backend_;
    ScriptedUi ui_;
    std::unique_ptr<TfrmMain> w_;

    TfrmMain& make(bool disassembler = false) {
        w_.reset();
        ui_ = ScriptedUi{};
        TfrmMain::Options o;
        o.backend = backend_.get();
        o.dialogs = &ui_;
        o.disassemblerAvailable = disassembler;
        w_ = std::make_unique<TfrmMain>(o);
        return *w_;
    }
    void fillDrives(TfrmMain& w) { w.tmrDeviceChangeTimer(); }

private slots:
    void init() {
        backend_ = std::make_unique<TestBackend>();
        fixtures::writePatternFile(dir_.file("d0.img"), 64 << 20);
        fixtures::writeMbr(dir_.file("d0.img"), {{0x0B, 2048, 131072 - 2048, true}});
        { std::ofstream blank(dir_.file("d1.img"), std::ios::trunc); }
        std::filesystem::resize_file(dir_.file("d1.img"), 4 << 20); // blank
        backend_->addDrive(VirtualDrive(dir_.file("d0.img")));
        backend_->addDrive(VirtualDrive(dir_.file("d1.img")));
        backend_->addDrive(VirtualDrive(dir_.file("d1.img")));
    }
    void cleanup() {
        w_.reset();
        QCOMPARE(backend_->openStreams(), 0);
    }

    void captionsAndInitialState() {
        TfrmMain& w = make();
        QCOMPARE(w.windowTitle(), QString("Easy drive and partition tool"));
        QCOMPARE(w.grbVolumes->title(),
                 QString("Logical &volumes (formatted partitions with station letter "
                         "assigned, or partitionless devices like floppy and cd-rom)"));
        QCOMPARE(w.grbLogicalDrives->title(),
                 QString("Physical &drives - raw drive, independant of partitions"));
        QCOMPARE(w.grbPartitions->title(), QString("&Partitions on selected drive (select above)"));
        QCOMPARE(w.grbSelection->title(), QString("Selected item:"));
        QCOMPARE(w.grbSelected->title(), QString("With selected item do"));
        QCOMPARE(w.grbDirectCopy->title(), QString("Direct copy - with selected item do:"));
        QCOMPARE(w.lblSelected->text(), QString("  None"));
        QCOMPARE(w.sbrProgress->text(),
                 QString("Hint: left click to select, right-click for instant action on selected item."));
        QCOMPARE(w.lvwDrives->toolTip(),
                 QString("These are logical volumes. Left to select, double-click to open "
                         "the file browser, right click for action"));
        QCOMPARE(w.lvwLogicalDrives->toolTip(),
                 QString("These are physically available devices like harddisk and usb sticks"));
        QCOMPARE(w.lvwPartitions->toolTip(), QString("These are partitions on selected physical device"));
        QCOMPARE(headers(w.lvwLogicalDrives),
                 QStringList({"Index", "Media type", "Cylinders", "Tracks per cylinder", "Sectors per track",
                              "Sector size", "Size (GB)", "Size (MB)", "Size (MiB)", "Size (bytes)",
                              "CHS Size (bytes)"}));
        QCOMPARE(headers(w.lvwDrives).size(), 10);
        QCOMPARE(headers(w.lvwPartitions).size(), 12);

        const std::vector<std::pair<QPushButton*, QString>> buttons{{w.btnWriteFile, "&Write to file"},
                                                                    {w.btnReadFile, "&Import from file"},
                                                                    {w.btnDisassemble, "Dis&assemble"},
                                                                    {w.btnHexView, "He&x view"},
                                                                    {w.btnGraphView, "Grap&hical view"},
                                                                    {w.btnStop, "&Stop"},
                                                                    {w.btnSetSource, "Set as so&urce"},
                                                                    {w.btnSetTarget, "Set as &target"},
                                                                    {w.btnInstantCopy, "Cop&y"},
                                                                    {w.btnSkip512bytes, "&Do"},
                                                                    {w.Button1, "..."},
                                                                    {w.btnRefresh, "&Refresh"},
                                                                    {w.btnRefreshPartitions, "Re&fresh"}};
        for (const auto& [button, caption] : buttons)
            QCOMPARE(button->text(), caption);
        QVERIFY(!w.btnWriteFile->isEnabled());
        QVERIFY(!w.btnReadFile->isEnabled());
        QVERIFY(!w.btnInstantCopy->isEnabled());
        QVERIFY(w.btnStop->isHidden());
        QVERIFY(w.btnRefresh->isHidden());
        QCOMPARE(w.lblSource->text(), QString("<select source>"));
        QCOMPARE(w.lblTarget->text(), QString("<select target>"));
        QCOMPARE(w.lblInfo->text(), QString("<Select source and target with identical size>"));
        QCOMPARE(w.cbbAdjustAction->placeholderText(), QString("Action"));
        QCOMPARE(w.cbbAdjustAction->currentIndex(), -1);
        QCOMPARE(w.tmrRefresh->interval(), 200);
        QVERIFY(!w.tmrRefresh->isActive());
        QCOMPARE(w.tmrDeviceChange->interval(), 1000);
        QVERIFY(w.tmrDeviceChange->isActive());
        QCOMPARE(w.lvwLogicalDrives->topLevelItemCount(), 0); // lists fill a second after start

        // Shown, the layout fits the window's size instead of pushing it taller; it stays centred.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), QSize(768, 617));
        QCOMPARE(w.pos(),
                 w.screen()->availableGeometry().center() - QRect(QPoint(), QSize(768, 617)).center());
    }

    void menusAsBuilt() {
        TfrmMain& w = make();
        QStringList bar;
        for (QAction* a : w.menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, QStringList({"&File", "S&election", "Ext&ra", "&Help", "&About"}));
        QCOMPARE(describe(topMenu(w, "&File")), QStringList({"E&xit", "-", "Select &file"}));
        QCOMPARE(describe(w.mnuSelection), QStringList({"-",
                                                        "He&x view",
                                                        "Grap&hical view",
                                                        "Dis&assemble [hidden]",
                                                        "Virus scan",
                                                        "Speed &test",
                                                        "-",
                                                        "Calculate MD5 sum",
                                                        "Calculate SHA1 sum",
                                                        "Calculate MD5 and SHA1",
                                                        "-",
                                                        "&Save as",
                                                        "Save as zip (2GB max)",
                                                        "Save as compressed",
                                                        "Rescue dump…",
                                                        "-",
                                                        "&Destructive actions",
                                                        "  Load from zip [hidden]",
                                                        "  &Load from file",
                                                        "  Load from compressed image",
                                                        "  -",
                                                        "  Edit partition table [disabled]",
                                                        "  -",
                                                        "  Erase",
                                                        "  -",
                                                        "  Set as copy &target",
                                                        "-",
                                                        "Set as copy so&urce"}));
        QVERIFY(!w.mnuSelection->menuAction()->isEnabled());
        QCOMPARE(
            describe(topMenu(w, "Ext&ra")),
            QStringList({"Pa&rtition and MBR additional reading (offline)", "&Usefull links (online)", "-",
                         "&Credits", "-", "Verify after writing", "Compute digests while imaging"}));
        QCOMPARE(describe(topMenu(w, "&Help")),
                 QStringList({"&Documentation (html)", "Documentation (&pdf)", "&Website"}));
        QCOMPARE(describe(topMenu(w, "&About")), QStringList({"&Version", "&License", "&Credits", "-",
                                                              "&To-Do and limitations", "Known &Issues"}));
        QCOMPARE(describe(w.pumSelection), QStringList({"Select"}));
        QCOMPARE(w.pumSelection->defaultAction()->text(), QString("Select"));
        const std::vector<std::pair<const char*, QString>> named{
            {"Writetofile1", "&Save as"},
            {"LoadFromFile1", "&Load from file"},
            {"Setasdirectcopysource1", "Set as copy so&urce"},
            {"Setasdirectcopytarget1", "Set as copy &target"},
            {"Saveascompressed1", "Save as compressed"},
            {"CalculateMD5sum1", "Calculate MD5 sum"}};
        for (const auto& [name, caption] : named) {
            QVERIFY2(w.menuItem(name), name);
            QCOMPARE(w.menuItem(name)->text(), caption);
        }
    }

    // The tools' items stand among the window's own by section and order: an item dropped,
    // renamed or moved by the registry shows here, with the name tests and handlers find it by.
    void selectionMenuLayoutWithNames() {
        TfrmMain& w = make();
        QStringList layout;
        std::function<void(const QMenu*, QString)> walk = [&](const QMenu* menu, QString indent) {
            for (const QAction* a : menu->actions()) {
                layout << indent + (a->isSeparator() ? "-" : a->text() + " | " + a->objectName());
                if (a->menu()) walk(a->menu(), indent + "  ");
            }
        };
        walk(w.mnuSelection, "");
        QCOMPARE(layout, QStringList({"-",
                                      "He&x view | Hexview1",
                                      "Grap&hical view | Graphicalview1",
                                      "Dis&assemble | Disassemble1",
                                      "Virus scan | Virusscan1",
                                      "Speed &test | Speedtest1",
                                      "-",
                                      "Calculate MD5 sum | CalculateMD5sum1",
                                      "Calculate SHA1 sum | CalculateSHA1sum1",
                                      "Calculate MD5 and SHA1 | CalculatebothMD5andSHA11",
                                      "-",
                                      "&Save as | Writetofile1",
                                      "Save as zip (2GB max) | Saveaszip1",
                                      "Save as compressed | Saveascompressed1",
                                      "Rescue dump… | Rescuedump1",
                                      "-",
                                      "&Destructive actions | Destructiveactions1",
                                      "  Load from zip | Loadfromzip1",
                                      "  &Load from file | LoadFromFile1",
                                      "  Load from compressed image | Loadfromcompressed1",
                                      "  -",
                                      "  Edit partition table | Editpartitiontable1",
                                      "  -",
                                      "  Erase | Fillerase1",
                                      "  -",
                                      "  Set as copy &target | Setasdirectcopytarget1",
                                      "-",
                                      "Set as copy so&urce | Setasdirectcopysource1"}));
    }

    void menuItemsShowTheLongLivedWindows() {
        TfrmMain& w = make();
        std::vector<QWidget*> windows;
        for (const char* name : {"frmPartInfo", "frmLicense", "frmToDo", "frmLinks", "frmCredits",
                                 "frmVersion", "frmKnownIssues"}) {
            windows.push_back(new QWidget(&w, Qt::Window));
            windows.back()->setObjectName(name);
        }
        w.setLongLivedWindows(windows[0], windows[1], windows[2], windows[3], windows[4], windows[5],
                              windows[6]);
        const std::vector<std::pair<const char*, int>> items{{"PartitionandMBRinfo1", 0},
                                                             {"License1", 1},
                                                             {"ToDoandlimitations1", 2},
                                                             {"Usefulllinksonline1", 3},
                                                             {"Credits1", 4},
                                                             {"Credits2", 4},
                                                             {"Version1", 5},
                                                             {"KnownIssues1", 6}};
        for (const auto& [item, index] : items) {
            windows[size_t(index)]->hide();
            w.menuItem(item)->trigger();
            QVERIFY2(windows[size_t(index)]->isVisible(), item);
        }
    }

    // Each tool item opens its own window on the selection; none opens another's.
    void toolItemsOpenTheirWindows() {
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->topLevelItem(0)->setSelected(true);
        const std::vector<std::pair<const char*, const char*>> items{
            {"CalculateMD5sum1", "frmChecksum"},
            {"CalculateSHA1sum1", "frmChecksum"},
            {"CalculatebothMD5andSHA11", "frmChecksum"},
            {"Speedtest1", "frmDriveSpeed"},
            {"Fillerase1", "frmWipeData"},
            {"Rescuedump1", "frmRescue"},
            {"Hexview1", "frmHexView"},
            {"Graphicalview1", "frmGraphical"}};
        for (const auto& [item, window] : items) {
            w.menuItem(item)->trigger();
            QStringList shown;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->isVisible() && top != &w && top->objectName().startsWith("frm")) {
                    shown << top->objectName();
                    top->close();
                }
            QCOMPARE(shown, QStringList{window});
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    void physicalDriveSelection() {
        TfrmMain& w = make();
        fillDrives(w);
        QCOMPARE(w.lvwLogicalDrives->topLevelItemCount(), 3);
        QCOMPARE(w.lvwLogicalDrives->topLevelItem(0)->text(9), QString("67108864"));
        w.lvwLogicalDrives->topLevelItem(0)->setSelected(true);
        QCOMPARE(QString::fromStdString(w.Selection.FileName), QString("\\\\.\\PHYSICALDRIVE0"));
        QCOMPARE(w.Selection.Size, 67108864);
        QCOMPARE(w.edtOffset->text(), QString("0"));
        QCOMPARE(w.edtSize->text(), QString("67108864"));
        QCOMPARE(w.lblSelected->text(), QString("  LOGICAL DRIVE 0   ( 64 MiB )"));
        // Showing the new values in the edits rebuilt the description.
        QCOMPARE(QString::fromStdString(w.Selection.Description),
                 QString("LOGICAL DRIVE 0   ( 64 MiB ) offset: 0 size: 67108864"));
        QVERIFY(w.btnWriteFile->isEnabled());
        QVERIFY(w.btnReadFile->isEnabled());
        QVERIFY(w.mnuSelection->menuAction()->isEnabled());

        // Drives 1 and 2 have the same size: the edits already show it, so the description stays.
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(2));
        QCOMPARE(QString::fromStdString(w.Selection.Description), QString("Logical drive 2"));
    }

    // Each drive row, a selection on it and the hint line say which physical disk it is.
    void drivesNameTheirPhysicalDisk() {
        backend_->drive(0).identity = {.node = "/dev/sdx",
                                       .model = "Ultra",
                                       .serial = "4C530001230405117281",
                                       .vendor = "SanDisk",
                                       .bus = "usb",
                                       .removable = true};
        TfrmMain& w = make();
        fillDrives(w);
        const QString stick("Device: /dev/sdx\nModel: SanDisk Ultra\nSerial: 4C530001230405117281\nBus: usb\n"
                            "Removable: yes\nRotational: no");
        const QString blank =
            "Device: " + QString::fromStdString(dir_.file("d1.img")) + "\nRemovable: no\nRotational: no";
        for (int column : {0, 10}) {
            QCOMPARE(w.lvwLogicalDrives->topLevelItem(0)->toolTip(column), stick);
            QCOMPARE(w.lvwLogicalDrives->topLevelItem(1)->toolTip(column), blank);
        }
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        QCOMPARE(w.lblSelected->toolTip(), stick);
        QCOMPARE(w.sbrProgress->text(), QString("Model: SanDisk Ultra  Serial: 4C530001230405117281"));
        w.lvwPartitions->setCurrentItem(w.lvwPartitions->topLevelItem(0));
        QCOMPARE(w.lblSelected->toolTip(), stick); // a partition lies on the same disk
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        QCOMPARE(w.lblSelected->toolTip(), blank);
        ui_.files = {dir_.file("d1.img")};
        w.Selectfile1Click();
        QCOMPARE(w.lblSelected->toolTip(), QString());
    }

    void selectingADriveListsItsPartitions() {
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        QVERIFY(ui_.asked.empty());
        QCOMPARE(w.lvwPartitions->topLevelItemCount(), 1);
        QTreeWidgetItem* row = w.lvwPartitions->topLevelItem(0);
        QCOMPARE(row->text(6), QString("2048"));
        QCOMPARE(row->text(11), QString("FAT32"));
        w.lvwPartitions->setCurrentItem(row);
        QCOMPARE(w.Selection.Offset, 2048 * 512);
        QCOMPARE(w.Selection.Size, int64_t(129024) * 512);
        QCOMPARE(w.lblSelected->text(), QString("  LOGICAL DRIVE 0 PARTITION 1   ( 63 MiB )"));

        // A blank drive has no partition table: it says so and lists nothing.
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        QCOMPARE(w.lvwPartitions->topLevelItemCount(), 0);
        QCOMPARE(ui_.texts(),
                 std::vector<std::string>{"MBR does not contain a partition table\n\nThe partition "
                                          "table may be zero or contain random data\n\nIgnoring... "});
    }

    // Notes about a drive's list stay in the hint line until the next walk; a row whose bytes leave
    // the disk makes no selection and says why.
    void partitionNotesAndRowsOffTheDisk() {
        fixtures::writeMbr(dir_.file("d1.img"), {{0xEE, 1, 8191}, {0x83, 8000, 500}});
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        QVERIFY(w.sbrProgress->text().startsWith("No GUID partition is listed: "));
        w.lvwPartitions->setCurrentItem(w.lvwPartitions->topLevelItem(1));
        QCOMPARE(ui_.texts(),
                 std::vector<std::string>{"The partition at sector 8000 of drive 1 cannot be selected: it "
                                          "ends past the end of the disk, which has 4194304 bytes."});
        QCOMPARE(w.Selection.DefaultName, std::string("DRIVE_1"));
        QVERIFY2(w.lvwPartitions->selectedItems().isEmpty(), "the refused row is not left marked");
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        QCOMPARE(w.sbrProgress->text(),
                 QString("Hint: left click to select, right-click for instant action on selected item."));
    }

    void theRowPickedLastIsTheSelection() {
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->topLevelItem(1)->setSelected(true);
        QTreeWidgetItem* volume = w.addVolumeRow(volumeRow("DATA", 'D', platform::DriveFixed, 1000));
        w.lvwDrives->setCurrentItem(volume);
        QCOMPARE(QString::fromStdString(w.Selection.FileName), QString("\\\\.\\D:"));
        QVERIFY(w.lvwLogicalDrives->selectedItems().isEmpty());
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        QCOMPARE(QString::fromStdString(w.Selection.FileName), QString("\\\\.\\PHYSICALDRIVE0"));
        QVERIFY(w.lvwDrives->selectedItems().isEmpty());

        PartitionEntry entry;
        entry.type = 0x0B;
        entry.firstSector = 63;
        entry.sectorCount = 1000;
        QTreeWidgetItem* part = w.addPartitionRow(MakePartitionRow(entry, 2, 0, true, "0"));
        w.lvwPartitions->setCurrentItem(part);
        QCOMPARE(w.Selection.Offset, 32256);
        QCOMPARE(QString::fromStdString(w.Selection.DefaultName), QString("DRIVE_0P2"));
        QVERIFY(w.lvwLogicalDrives->selectedItems().isEmpty());
    }

    void popupMirrorsTheSelectionMenu() {
        TfrmMain& w = make();
        QTreeWidgetItem* net = w.addVolumeRow(volumeRow("share", 'Z', platform::DriveRemote, 5000));
        QTreeWidgetItem* disk = w.addVolumeRow(volumeRow("DATA", 'D', platform::DriveFixed, 5000));
        w.lvwDrives->setCurrentItem(disk);
        w.lvwDrives->setCurrentItem(net);
        w.lvwDrives->setCurrentItem(disk);
        QStringList expected{"Select", "-"};
        for (QString line : describe(w.mnuSelection))
            expected << line;
        QCOMPARE(describe(w.pumSelection), expected); // one copy, never two

        // Copies run the original handlers.
        w.pumSelection->actions().last()->trigger();
        QCOMPARE(QString::fromStdString(w.CopySource.FileName), QString("\\\\.\\D:"));

        w.lvwDrives->setCurrentItem(net);
        QVERIFY(!w.mnuSelection->menuAction()->isEnabled());
        const auto items = w.pumSelection->actions();
        QVERIFY(items.first()->isEnabled()); // Select stays usable
        for (int i = 1; i < items.size(); ++i)
            if (!items[i]->isSeparator()) QVERIFY2(!items[i]->isEnabled(), qPrintable(items[i]->text()));
        QVERIFY(!w.menuItem("LoadFromFile1")->isEnabled());
    }

    void disassembleIsOfferedOnlyWithTheLibrary() {
        for (bool available : {false, true}) {
            TfrmMain& w = make(available);
            w.lvwDrives->setCurrentItem(w.addVolumeRow(volumeRow("A", 'D', platform::DriveFixed, 10)));
            QCOMPARE(w.menuItem("Disassemble1")->isVisible(), available);
            QCOMPARE(!w.btnDisassemble->isHidden(), available);
            bool inPopup = false;
            for (const QAction* a : w.pumSelection->actions())
                if (a->text() == "Dis&assemble") inPopup = a->isVisible();
            QCOMPARE(inPopup, available);
        }
    }

    void zipLimitAndLoadItems() {
        TfrmMain& w = make();
        w.lvwDrives->setCurrentItem(w.addVolumeRow(volumeRow("A", 'D', platform::DriveFixed, 2147483647)));
        QVERIFY(w.menuItem("Saveaszip1")->isEnabled());
        w.edtSize->setText("2147483648");
        QVERIFY(!w.menuItem("Saveaszip1")->isEnabled());
        QVERIFY(w.menuItem("LoadFromFile1")->isEnabled());
        w.lvwDrives->setCurrentItem(w.addVolumeRow(volumeRow("CD", 'E', platform::DriveCdRom, 100)));
        QVERIFY(!w.menuItem("LoadFromFile1")->isEnabled());
        QVERIFY(!w.menuItem("Loadfromcompressed1")->isEnabled());
        QCOMPARE(QString::fromStdString(w.Selection.DefaultExt), QString(".iso"));
    }

    void hexEditing() {
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        w.chbAsHex->click();
        QCOMPARE(w.edtOffset->text(), QString("00000000"));
        QCOMPARE(w.edtSize->text(), QString("04000000"));
        w.edtOffset->setFocus();
        w.edtOffset->selectAll();
        QTest::keyClicks(w.edtOffset, "1xbe");
        QCOMPARE(w.Selection.Offset, 446);
        QCOMPARE(w.edtOffset->text(), QString("000001BE"));
        QCOMPARE(QString::fromStdString(w.Selection.Description),
                 QString("LOGICAL DRIVE 0   ( 64 MiB ) offset: 446 size: 67108864"));
        QCOMPARE(w.Selection.BaseOffset, 0); // editing never moves the base
        w.chbAsHex->click();
        QCOMPARE(w.edtOffset->text(), QString("446"));
        // Without "As hex" the offset edit takes digits only.
        w.edtOffset->selectAll();
        QTest::keyClicks(w.edtOffset, "a1-2");
        QCOMPARE(w.Selection.Offset, 12);
        QVERIFY(ui_.asked.empty());
    }

    void invalidNumbersAreReportedAndKeepTheValue() {
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        w.edtSize->selectAll();
        QTest::keyClicks(w.edtSize, "z");
        QCOMPARE(ui_.texts(), std::vector<std::string>{"'z' is not a valid integer value"});
        QCOMPARE(w.Selection.Size, 67108864);
        w.edtSize->setText("99999999999999999999");
        QCOMPARE(ui_.texts().back(), std::string("'99999999999999999999' is not a valid integer value"));
        w.edtOffset->setText("");
        QCOMPARE(ui_.texts().back(), std::string("'' is not a valid integer value"));
        QCOMPARE(w.Selection.Offset, 0);
        w.edtOffset->setText("-4");
        QCOMPARE(w.Selection.Offset, -4); // kept as typed
    }

    void adjustActions() {
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        w.btnSkip512bytes->click();
        QCOMPARE(ui_.texts(), std::vector<std::string>{"No action selected"});
        w.cbbAdjustAction->setCurrentIndex(0);
        w.btnSkip512bytes->click();
        w.btnSkip512bytes->click();
        QCOMPARE(w.Selection.Offset, 512);
        QCOMPARE(w.edtSize->text(), QString("67108352"));
        w.cbbAdjustAction->setCurrentIndex(3);
        w.btnSkip512bytes->click();
        QCOMPARE(w.edtOffset->text(), QString("446"));
        QCOMPARE(w.edtSize->text(), QString("66"));
    }

    void copySourceAndTarget() {
        TfrmMain& w = make();
        fillDrives(w);
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(1));
        w.btnSetSource->click();
        w.btnSetTarget->click();
        QVERIFY(!w.btnInstantCopy->isEnabled()); // same item twice
        QCOMPARE(w.lblSource->text(), QString::fromStdString(w.CopySource.Description));
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(2));
        w.edtOffset->setText("1"); // a different description
        w.edtOffset->setText("0");
        w.btnSetTarget->click();
        QVERIFY(w.CopySource.Description != w.CopyTarget.Description);
        QVERIFY(w.btnInstantCopy->isEnabled());
        w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
        // The target is kept when the selection moves on.
        QCOMPARE(QString::fromStdString(w.CopyTarget.FileName), QString("\\\\.\\PHYSICALDRIVE2"));
        w.menuItem("Setasdirectcopytarget1")->trigger();
        QVERIFY(!w.btnInstantCopy->isEnabled()); // sizes differ
    }

    void busyModeAndStop() {
        TfrmMain& w = make();
        w.show();
        w.DisableButtons();
        w.btnStop->show();
        for (QPushButton* b : w.findChildren<QPushButton*>())
            QCOMPARE(b->isEnabled(), b == w.btnStop);
        QVERIFY(w.edtOffset->isEnabled());
        QVERIFY(w.mnuSelection->menuAction() != nullptr);

        ui_.answers = {Button::No};
        w.btnStop->click();
        QCOMPARE(ui_.texts(), std::vector<std::string>{
                                  "Stopping may lead to corrupted results. Are you sure you want to stop?"});
        QCOMPARE(ui_.asked[0].icon, Icon::Warning);
        QCOMPARE(ui_.asked[0].defaultButton, Button::No);
        QVERIFY(!w.StopRequested);
        QVERIFY(w.btnStop->isVisible());
        ui_.answers = {Button::Yes};
        w.btnStop->click();
        QVERIFY(w.StopRequested);
        QVERIFY(w.btnStop->isHidden());
        QVERIFY(w.jobControl().stopRequested());

        w.EnableButtons();
        for (QPushButton* b : w.findChildren<QPushButton*>())
            QVERIFY(b->isEnabled());
    }

    void selectFile() {
        TfrmMain& w = make();
        const std::string path = dir_.file("picked.bin");
        fixtures::writePatternFile(path, 12345);
        ui_.files = {std::nullopt};
        w.Button1->click();
        QVERIFY(w.Selection.FileName.empty()); // cancelled: nothing changes
        ui_.files = {path};
        w.menuItem("Selectfile1")->trigger();
        QCOMPARE(QString::fromStdString(w.Selection.FileName), QString::fromStdString(path));
        QCOMPARE(w.Selection.Size, 12345);
        QCOMPARE(QString::fromStdString(w.Selection.DefaultName), QString("picked.bin"));
        QVERIFY(w.Selection.CanRead && w.Selection.CanWrite);
        QVERIFY(w.btnWriteFile->isEnabled() && w.btnReadFile->isEnabled());
        QVERIFY(w.mnuSelection->menuAction()->isEnabled());

        ui_.files = {dir_.file("gone.bin")};
        w.Button1->click();
        QCOMPARE(ui_.texts().back(),
                 "Cannot open file \"" + dir_.file("gone.bin") + "\". No such file or directory");
        QCOMPARE(w.Selection.Size, 12345);
    }

    void selectionLabelGetsThePopupOnlyOnceSomethingIsSelected() {
        TfrmMain& w = make();
        w.lblSelectedClick();
        QVERIFY(!w.lblSelectedHasPopup);
        w.lvwDrives->setCurrentItem(w.addVolumeRow(volumeRow("A", 'D', platform::DriveFixed, 10)));
        QTest::mouseClick(w.lblSelected, Qt::LeftButton);
        QVERIFY(w.lblSelectedHasPopup);
    }

    void deviceChangesAreDebounced() {
        TfrmMain& w = make();
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.driveRefreshCount(), 1, 3000);
        QCOMPARE(w.volumeRefreshCount(), 1);
        QCOMPARE(w.lvwLogicalDrives->topLevelItemCount(), 3);

        // A burst of changes within a second: one refresh of both lists, a second after the first.
        backend_->removeLastDrive();
        for (int i = 0; i < 5; ++i) {
            backend_->signalDeviceChange(2);
            QTest::qWait(100);
        }
        QTRY_COMPARE_WITH_TIMEOUT(w.driveRefreshCount(), 2, 3000);
        QTest::qWait(1300);
        QCOMPARE(w.driveRefreshCount(), 2);
        QCOMPARE(w.volumeRefreshCount(), 2);
        QCOMPARE(w.lvwLogicalDrives->topLevelItemCount(), 2);
    }

    void uncaughtErrorsAreShownAndTheProgramGoesOn() {
        std::vector<std::string> errors;
        TApplication::setErrorSink([&](const std::string& m) { errors.push_back(m); });
        struct Thrower : QObject {
            bool event(QEvent*) override { throw std::runtime_error("'x' is not a valid integer value"); }
        } thrower;
        QEvent e(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &e);
        TApplication::setErrorSink(nullptr);
        QCOMPARE(errors, std::vector<std::string>{"'x' is not a valid integer value"});
    }

    // The program itself, sent the signals that end a program from outside: it stops and closes
    // as after Stop and the close box, so destructors run and the demo drive's folder goes.
    void endSignalsCloseTheProgramAndRemoveTheDemoDrive() {
        const QString program = TARNWICK_GUI_PROGRAM;
        QVERIFY2(QFileInfo::exists(program), "tarnwick is built");
        for (const int sig : {SIGTERM, SIGHUP, SIGINT}) {
            fixtures::TempDir tmp;
            const QDir folder(QString::fromStdString(tmp.path().string()));
            const auto demoFolders = [&] { return folder.entryList({"tarnwick-demo-*"}, QDir::Dirs); };
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            env.insert("TMPDIR", folder.path()); // where the demo drive's folder is made
            p.setProcessEnvironment(env);
            p.setProcessChannelMode(QProcess::ForwardedChannels);
            p.start(program, {"--demo"});
            QVERIFY(p.waitForStarted());
            QTRY_COMPARE_WITH_TIMEOUT(demoFolders().size(), 1, 20000);
            QVERIFY(::kill(pid_t(p.processId()), sig) == 0);
            QVERIFY2(p.waitForFinished(20000), qPrintable(QString("signal %1").arg(sig)));
            QCOMPARE(p.exitStatus(), QProcess::NormalExit);
            QCOMPARE(p.exitCode(), 0);
            QCOMPARE(demoFolders(), QStringList());
        }
    }

    void attachingALoopDeviceRefreshesTheRealList() {
        const std::string image = dir_.file("loop.img");
        fixtures::writePatternFile(image, 24 << 20);
        TfrmMain::Options o;
        o.dialogs = &ui_;
        TfrmMain w(o); // the system's own backend and device watch
        w.show();
        QTRY_COMPARE_WITH_TIMEOUT(w.driveRefreshCount(), 1, 3000);
        fixtures::LoopDevice loop(image);
        if (!loop.available()) QSKIP(loop.reason().c_str());
        QTRY_COMPARE_WITH_TIMEOUT(w.driveRefreshCount(), 2, 4000);
        QTest::qWait(1200);
        QCOMPARE(w.driveRefreshCount(), 2);
        bool listed = false;
        for (int i = 0; i < w.lvwLogicalDrives->topLevelItemCount(); ++i)
            listed = listed || w.lvwLogicalDrives->topLevelItem(i)->text(9) == QString::number(24 << 20);
        if (!listed) QSKIP("an earlier drive of this machine refused to open and ended the scan");
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "mainwindow_test.moc"
