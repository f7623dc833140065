// tarnwick: the desktop program.

#include "app/gui/long_lived_windows.h"
#include "app/gui/mainwindow.h"
#include "discovery/demo_drive.h"
#include "discovery/partitions.h"
#include "info/elevation.h"
#include "platform/platform.h"
#include "registry/windows.h"
#include "ui/application.h"

#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcessEnvironment>
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
#include <optional>

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
    for (int sig : kEndSignals)
        sigaddset(&action.sa_mask, sig);
    action.sa_flags = 0;
    for (int sig : kEndSignals)
        ::sigaction(sig, &action, nullptr);
    return true;
}

// Ctrl+C, kill and a closed terminal end the program at any time. Once the main window exists
// they stop the running action and close it, so that the destructors run and the demo drive's
// temporary folder goes too; before that (the start-up question, a restart through pkexec) an open
// question takes its safe answer and main() returns as soon as it gets control back.
class EndSignals {
public:
    EndSignals() : notifier_(signalPipe[0], QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { arrived(); });
    }
    // From now on a signal closes this window.
    void closes(TfrmMain& window) { window_ = &window; }

private:
    void arrived() {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        if (window_) {
            window_->stopAndClose();
            return;
        }
        while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->done(QDialog::Rejected);
            if (QApplication::activeModalWidget() == dialog) break;
        }
    }

    QSocketNotifier notifier_;
    QPointer<TfrmMain> window_;
};

// True once an end signal came, whether or not the event loop has seen it yet.
bool endRequested() {
    return signalled != 0;
}

} // namespace

int main(int argc, char** argv) {
    if (!displayAvailable()) {
        std::fprintf(stderr,
                     "tarnwick: no display available (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                     "Start it inside a virtual display instead:\n"
                     "  xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }
    const bool signalsWatched = endOnSignals();
    PartitionTypeNames(); // built once, before any window needs it
    // Loaded before any window exists; the program runs without them.
    const registry::ToolLibraries libraries;

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
    // Watched before anything can ask a question; a signal that came earlier is waiting in the pipe.
    std::optional<EndSignals> endSignals;
    if (signalsWatched) endSignals.emplace();
    if (endRequested()) return 0;

    // Started by an ordinary user, the program sees few drives: offer once to run again with
    // administrator rights. A refused password or no authentication agent goes on unprivileged.
    info::ElevationFacts facts = info::currentElevationFacts(false);
    if (info::decideElevation(facts) == info::ElevationChoice::Offer) {
        const auto answer = QMessageBox::question(
            nullptr, QString::fromUtf8(info::kElevationTitle.data(), qsizetype(info::kElevationTitle.size())),
            QString::fromUtf8(info::kElevationQuestion.data(), qsizetype(info::kElevationQuestion.size())),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            std::vector<std::string> environment;
            for (const QString& entry : QProcessEnvironment::systemEnvironment().toStringList())
                environment.push_back(entry.toStdString());
            const auto status = info::runAndWait(info::elevatedCommand(
                facts.pkexec, QCoreApplication::applicationFilePath().toStdString(),
                std::vector<std::string>(argv + 1, argv + argc), info::policyProgram(), environment));
            if (endRequested()) return 0;
            if (!info::elevationRefused(status)) return *status;
        }
        if (endRequested()) return 0;
        facts.declined = true;
    }
    info::DriveAccessHint driveAccessHint(facts);

    TfrmMain::Options options;
    options.disassemblerAvailable = libraries.disassemblerAvailable();
    options.disassembler = libraries.disassembler();
    if (demoDrive) options.backend = &demoDrive->backend();
    TfrmMain frmMain(options);
    createLongLivedWindows(frmMain);
    if (endSignals) endSignals->closes(frmMain);
    if (endRequested()) return 0;

    frmMain.show();
    // Why drives are missing, said once.
    if (const auto hint = driveAccessHint.take()) frmMain.sbrProgress->setText(QString::fromStdString(*hint));
    return app.exec();
}
