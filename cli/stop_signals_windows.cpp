#include "cli/stop_signals.h"

#include <csignal>
#include <cstdlib>

#include <windows.h>

namespace cli {
namespace {

// Set when the program ends. Closing the console, logging off and shutting down end the process
// as soon as the handler returns: the handler waits for this, so that the action stops and
// cleans up as after Ctrl+C (the system allows a few seconds before it ends the process anyway).
HANDLE gFinished = nullptr;

void markFinished() {
    if (gFinished) ::SetEvent(gFinished);
}

// Runs on a thread of its own. FALSE passes the event on to the default handler, which ends the
// process: what a second Ctrl+C should do.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return detail::recordStopSignal(SIGINT) ? TRUE : FALSE;
    case CTRL_BREAK_EVENT:
        return detail::recordStopSignal(SIGTERM) ? TRUE : FALSE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (detail::recordStopSignal(SIGTERM) && gFinished) ::WaitForSingleObject(gFinished, 4500);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void installStopHandlers() {
    gFinished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (gFinished) std::atexit(markFinished);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace cli
