#pragma once
// Ctrl+C, SIGTERM and SIGHUP ask the running action to stop, so it can say what it wrote and
// close what it opened; a second one ends the program at once.

namespace cli {

// Installs the handlers: on Linux for SIGINT, SIGTERM and SIGHUP, without SA_RESTART so that a
// blocking open or read comes back (EINTR) and the platform can give up waiting; on Windows for
// Ctrl+C (SIGINT), Ctrl+Break, closing the console, logging off and shutting down (SIGTERM; the
// last three wait for the program to end, as the process ends when they return). The first
// signal records itself and calls
// platform::requestInterrupt(); a second one ends the program the system's default way. On
// Linux SIGPIPE is recorded the same way but never ends the program: the writes that follow fail
// with EPIPE instead, and the program cleans up (the demo drive's folder) before it exits.
void installStopHandlers();

// The first stop signal received, or 0. A closed output pipe (SIGPIPE; on Windows a write that
// finds the pipe's reader gone) counts as one: nobody reads what the action would still print, so
// it ends as if stopped.
int stopSignal();
// The stop came from a closed output pipe: the program ends quietly, as other tools do.
bool outputClosed();

// "SIGINT", "SIGTERM", "SIGHUP" or "SIGPIPE"; "a signal" for any other number.
const char* stopSignalName(int signal);

namespace detail {
// Records the first stop signal and requests the interrupt; false when one was recorded before.
// Async-signal-safe.
bool recordStopSignal(int signal);
// Records a closed output pipe as SIGPIPE would, where the system has no such signal.
void recordOutputClosed();
} // namespace detail

} // namespace cli
