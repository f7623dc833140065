#include "cli/stop_signals.h"

#include <signal.h>

namespace cli {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onStopSignal(int signal) {
    if (detail::recordStopSignal(signal)) return;
    // Already stopping, so something holds the program up: let the signal take its default action.
    // It stays blocked until this handler returns, and is delivered then.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

// A reader that went away is no reason to die on the spot with files half-written and the demo
// drive's folder left behind: the first one stops the action like Ctrl+C, the later ones (every
// write that still follows) are ignored.
extern "C" void onPipeSignal(int signal) {
    detail::recordStopSignal(signal);
}

} // namespace

void installStopHandlers() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int s : kStopSignals)
        sigaddset(&action.sa_mask, s);
    action.sa_flags = 0; // no SA_RESTART: a blocking call must come back and see the request
    for (int s : kStopSignals)
        sigaction(s, &action, nullptr);
    action.sa_handler = onPipeSignal;
    sigaction(SIGPIPE, &action, nullptr);
}

} // namespace cli
