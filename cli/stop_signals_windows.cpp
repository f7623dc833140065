#include "cli/stop_signals.h"

#include <csignal>

#include <windows.h>

namespace cli {
namespace {

// Runs on a thread of its own. FALSE passes the event on to the default handler, which ends the
// process: what a second Ctrl+C should do.
BOOL WINAPI onConsoleEvent(DWORD event) {
    const int signal = event == CTRL_C_EVENT ? SIGINT : event == CTRL_BREAK_EVENT ? SIGTERM : 0;
    return signal != 0 && detail::recordStopSignal(signal) ? TRUE : FALSE;
}

} // namespace

void installStopHandlers() {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace cli
