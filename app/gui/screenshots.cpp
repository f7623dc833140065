// tarnwick-screenshots FOLDER: the pictures of the manual. Starts the main window on the demo
// drive, opens each window the way a user would (tool windows through their menu items, so a tool
// that is not built yet is simply skipped), and saves every window with QWidget::grab() as
// FOLDER/<name>.png. Run by scripts/screenshots.sh.

#include "app/gui/long_lived_windows.h"
#include "app/gui/mainwindow.h"
#include "app/gui/selectfile.h"
#include "discovery/demo_drive.h"
#include "info/gui/infowindows.h"
#include "info/gui/partinfo.h"
#include "platform/platform.h"
#include "registry/windows.h"
#include "ui/application.h"
#include "ui/confirmation_dialog.h"
#include "ui/save_picture.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

void settle(int ms) {
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
}

bool waitFor(const std::function<bool()>& done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

class Shooter {
public:
    explicit Shooter(const QString& folder) : folder_(folder) {}

    void save(QWidget* window, const QString& name) {
        settle(150);
        const QString path = folder_.filePath(name + ".png");
        if (const auto failure = savePicture(platform::systemBackend(), window->grab(), path.toStdString()))
            std::fprintf(stderr, "tarnwick-screenshots: cannot write %s: %s\n", qPrintable(path),
                         failure->c_str());
        else
            std::printf("wrote %s\n", qPrintable(path));
    }

    // Shows a window created once, saves it, hides it again.
    void shoot(QWidget* window, const QString& name) {
        window->show();
        save(window, name);
        window->hide();
    }

private:
    QDir folder_;
};

QSet<QWidget*> visibleWindows() {
    QSet<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->isWindow()) out.insert(w);
    return out;
}

// A tool started from the Selection menu: its window is whatever top-level window appears.
struct Tool {
    const char* action;    // the menu item's name
    const char* selection; // "drive" (all of drive 0) or "partition" (its first partition)
    const char* press;     // a button to press in the new window first, or nullptr
    int waitMs;            // time for the window to fill itself
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc < 2) {
        std::fprintf(stderr, "usage: tarnwick-screenshots FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    std::unique_ptr<demo::DemoDrive> demoDrive;
    try {
        demoDrive = std::make_unique<demo::DemoDrive>(platform::systemBackend());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarnwick-screenshots: %s\n", e.what());
        return 1;
    }
    const registry::ToolLibraries libraries;
    TApplication app(argc, argv);
    // Errors of a tool end up in the terminal, not in a box nobody closes.
    TApplication::setErrorSink([](const std::string& m) { std::fprintf(stderr, "error: %s\n", m.c_str()); });

    TfrmMain::Options options;
    options.backend = &demoDrive->backend();
    options.disassemblerAvailable = libraries.disassemblerAvailable();
    options.disassembler = libraries.disassembler();
    TfrmMain frmMain(options);
    const LongLivedWindows windows = createLongLivedWindows(frmMain);
    auto* frmPartInfo = windows.partInfo;
    auto* frmSelectFile = windows.selectFile;
    // Nobody answers a question offscreen: one that comes up is said, answered with its safe
    // button, and fails the run, rather than waiting for ever.
    bool unexpectedDialog = false;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&unexpectedDialog, frmSelectFile] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog == frmSelectFile) return; // the file browser is modal, and expected
        const auto* box = qobject_cast<QMessageBox*>(dialog);
        std::fprintf(stderr, "tarnwick-screenshots: closed an unexpected dialog: %s\n",
                     qPrintable(box ? box->text() : dialog->windowTitle()));
        unexpectedDialog = true;
        dialog->done(QDialog::Rejected);
    });
    answerer.start(500);

    Shooter shooter(folder);
    frmMain.show();
    if (!waitFor(
            [&] {
                return frmMain.driveRefreshCount() > 0 && frmMain.lvwLogicalDrives->topLevelItemCount() > 0;
            },
            10000)) {
        std::fprintf(stderr, "tarnwick-screenshots: the drive list stayed empty\n");
        return 1;
    }
    const auto selectDrive = [&] {
        frmMain.lvwLogicalDrives->clearSelection();
        frmMain.lvwLogicalDrives->setCurrentItem(frmMain.lvwLogicalDrives->topLevelItem(0));
        settle(200);
    };
    const auto selectPartition = [&] {
        selectDrive();
        if (frmMain.lvwPartitions->topLevelItemCount() > 0)
            frmMain.lvwPartitions->setCurrentItem(frmMain.lvwPartitions->topLevelItem(0));
        settle(200);
    };

    // The main window with the demo drive's first partition selected.
    selectPartition();
    shooter.save(&frmMain, "main-window");

    // The overwrite gate, as it asks before anything is written to that partition.
    {
        TfrmConfirmation gate(frmMain.Selection, &frmMain);
        gate.show();
        shooter.save(&gate, "confirmation");
        gate.hide();
    }

    shooter.shoot(windows.version, "version");
    shooter.shoot(windows.license, "license");
    shooter.shoot(windows.credits, "credits");
    shooter.shoot(windows.links, "links");
    shooter.shoot(windows.toDo, "todo");
    shooter.shoot(windows.knownIssues, "known-issues");
    frmPartInfo->show();
    // The boot record's tab at its dump, the part a reader comes back to.
    if (QPlainTextEdit* memo = frmPartInfo->Memo3; memo->find("4. THE DEMO DRIVE'S MASTER BOOT RECORD")) {
        QTextCursor at = memo->textCursor();
        at.clearSelection();
        memo->setTextCursor(at);
        memo->verticalScrollBar()->setValue(at.blockNumber());
    }
    for (int tab = 0; tab < frmPartInfo->PageControl1->count(); ++tab) {
        frmPartInfo->PageControl1->setCurrentIndex(tab);
        static const char* const names[] = {"reference-types", "reference-table", "reference-mbr"};
        shooter.save(frmPartInfo, names[tab]);
    }
    frmPartInfo->hide();

    // The file browser over a small folder of its own.
    {
        QTemporaryDir root;
        QDir(root.path()).mkpath("images");
        for (const char* name : {"images/usb-stick.raw", "images/usb-stick.cdi", "notes.txt"}) {
            QFile f(QDir(root.path()).filePath(name));
            if (f.open(QIODevice::WriteOnly)) f.write(QByteArray(4096, 'x'));
        }
        frmSelectFile->setWaitForClose(false);
        frmSelectFile->Open(QDir::toNativeSeparators(root.path() + "/").toStdString());
        if (auto* top = frmSelectFile->lvwfs->topLevelItem(0)) top->setExpanded(true);
        settle(200);
        shooter.save(frmSelectFile, "file-browser");
        frmSelectFile->btnCancel->click();
        settle(100);
    }

    // The tools, each through its menu item. A tool that is not there yet opens no window.
    const Tool tools[] = {
        {"Hexview1", "partition", nullptr, 1500},
        {"Graphicalview1", "drive", "btnDraw", 3000},
        {"Disassemble1", "drive", nullptr, 1000},
        {"CalculatebothMD5andSHA11", "partition", "btnCalculate", 3000},
        {"Speedtest1", "drive", nullptr, 500},
        {"Fillerase1", "partition", nullptr, 500},
    };
    for (const Tool& tool : tools) {
        QAction* item = frmMain.menuItem(tool.action);
        if (!item || !item->isVisible()) {
            std::printf("skipped %s: not offered\n", tool.action);
            continue;
        }
        if (QByteArray(tool.selection) == "drive")
            selectDrive();
        else
            selectPartition();
        const QSet<QWidget*> before = visibleWindows();
        item->trigger();
        settle(300);
        const QSet<QWidget*> opened = visibleWindows() - before;
        if (opened.isEmpty()) {
            std::printf("skipped %s: no window opened\n", tool.action);
            continue;
        }
        for (QWidget* window : opened) {
            if (tool.press)
                if (auto* button = window->findChild<QPushButton*>(tool.press)) button->click();
            settle(tool.waitMs);
            const QString name = window->objectName().isEmpty() ? QString(tool.action) : window->objectName();
            shooter.save(window, name);
            window->close();
        }
        settle(200);
    }
    return unexpectedDialog ? 1 : 0;
}
