// tarnwick: the desktop program.

#include "app/gui/application.h"
#include "app/gui/longlived.h"
#include "app/gui/mainwindow.h"
#include "app/gui/selectfile.h"
#include "discovery/demo_drive.h"
#include "discovery/partitions.h"
#include "inspect/disasm_library.h"
#include "platform/platform.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool displayAvailable() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && *platform) return true;
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

// Async-signal-safe only: a flag, the interrupt request and a byte into the pipe. The window does
// the rest from its event loop.
void endSignal(int sig) {
    if (signalled) {
        // Asked again: whoever sends it will not wait for the action to stop.
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ::sigaction(sig, &dfl, nullptr);
        ::raise(sig); // delivered when this handler returns
        return;
    }
    signalled = 1;
    platform::requestInterrupt();
    const int savedErrno = errno;
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
    errno = savedErrno;
}

// Installed before anything worth cleaning up exists (the demo drive's folder); a signal that
// arrives before the event loop runs waits in the pipe. No SA_RESTART: a blocking open or read
// gives up (EINTR with the interrupt requested) instead of holding the program.
bool endOnSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = endSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : kEndSignals) sigaddset(&action.sa_mask, sig);
    action.sa_flags = 0;
    for (int sig : kEndSignals) ::sigaction(sig, &action, nullptr);
    return true;
}

// Ctrl+C, kill and a closed terminal stop the running action and close the window, so that the
// destructors run and the demo drive's temporary folder goes too.
void watchEndSignals(TfrmMain& window) {
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        window.stopAndClose();
    });
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
    const bool signalsWatched = endOnSignals();
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
    if (signalsWatched) watchEndSignals(frmMain);

    frmMain.show();
    return app.exec();
}
