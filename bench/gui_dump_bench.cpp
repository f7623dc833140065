// Times a dump started from the main window's button, with the real progress bar, status line
// and event pump, so the window's own cost per 8 KiB block can be compared with the command
// line and dd. Usage: gui_dump_bench IMAGE OUTPUT
#include "app/gui/mainwindow.h"
#include "platform/image_drives.h"
#include "ui/application.h"
#include "ui/qt_dialogs.h"

#include <QPushButton>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>

namespace {

// Qt's own pump and message boxes answered with their default, but the output file given.
class BenchDialogs : public QtDialogs {
public:
    BenchDialogs(QWidget* owner, std::string file) : QtDialogs(owner), file_(std::move(file)) {}
    Button ask(const Question& q) override {
        std::fprintf(stderr, "%s\n", q.text.c_str());
        return q.defaultButton;
    }
    std::optional<std::string> chooseFile(const FileDialog&) override { return file_; }

private:
    std::string file_;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: gui_dump_bench IMAGE OUTPUT\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    platform::ImageDrives backend(platform::systemBackend());
    backend.addDrive(platform::ImageDrive(argv[1]));
    TfrmMain::Options o;
    o.backend = &backend;
    TfrmMain w(o);
    BenchDialogs dialogs(&w, argv[2]);
    w.setDialogs(&dialogs);
    w.show();
    w.tmrDeviceChangeTimer();
    w.lvwLogicalDrives->setCurrentItem(w.lvwLogicalDrives->topLevelItem(0));
    const auto start = std::chrono::steady_clock::now();
    w.btnWriteFile->click();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.3f\n", s);
    return 0;
}
