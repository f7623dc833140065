// tarnwick: the desktop program.

#include "app/gui/application.h"
#include "app/gui/longlived.h"
#include "app/gui/mainwindow.h"
#include "app/gui/selectfile.h"
#include "discovery/demo_drive.h"
#include "discovery/partitions.h"
#include "inspect/disasm_library.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

int quitPipe[2] = {-1, -1};

void quitSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &c, 1);
}

// Ctrl+C, kill and a closed terminal end the event loop instead of the process, so that the
// destructors run and the demo drive's temporary folder goes too.
void quitOnSignals(QCoreApplication& app) {
    if (::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, quitSignal);
}

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fprintf(stderr, "tarnwick: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                             "Start it inside a virtual display instead:\n"
                             "  xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    PartitionTypeNames(); // built once, before any window needs it
    // Loaded before any window exists; the program runs without it.
    disasm::DisasmLibrary disassembler = disasm::DisasmLibrary::load();

    // --demo: a generated disk image as drive 0, ahead of the machine's own drives; it lives in a
    // temporary folder that goes when the program ends.
    std::unique_ptr<demo::DemoDrive> demoDrive;
    if (std::any_of(argv + 1, argv + argc, [](const char* a) { return std::strcmp(a, "--demo") == 0; })) {
        try {
            demoDrive = std::make_unique<demo::DemoDrive>(platform::systemBackend());
        } catch (const std::exception& e) {
            std::fprintf(stderr, "tarnwick: %s\n", e.what());
            return 1;
        }
    }

    TApplication app(argc, argv);
    if (demoDrive) quitOnSignals(app);

    TfrmMain::Options options;
    options.disassemblerAvailable = disassembler.available();
    if (demoDrive) options.backend = &demoDrive->backend();
    TfrmMain frmMain(options);
    // Created in this order, hidden until asked for, and alive as long as the main window.
    auto* frmPartInfo = new TLongLivedWindow("frmPartInfo", "Partition and MBR additional reading", &frmMain);
    auto* frmLicense = new TLongLivedWindow("frmLicense", "License", &frmMain);
    auto* frmToDo = new TLongLivedWindow("frmToDo", "To-Do and limitations", &frmMain);
    auto* frmLinks = new TLongLivedWindow("frmLinks", "Usefull links", &frmMain);
    auto* frmCredits = new TLongLivedWindow("frmCredits", "Credits", &frmMain);
    auto* frmVersion = new TLongLivedWindow("frmVersion", "Version", &frmMain);
    frmMain.setFileBrowser(new TfrmSelectFile(frmMain, &frmMain));
    auto* frmKnownIssues = new TLongLivedWindow("frmKnownIssues", "Known Issues", &frmMain);
    frmMain.setLongLivedWindows(frmPartInfo, frmLicense, frmToDo, frmLinks, frmCredits, frmVersion, frmKnownIssues);

    frmMain.show();
    return app.exec();
}
