#pragma once
// Ctrl+C, SIGTERM and SIGHUP ask the running action to stop, so it can say what it wrote and
// close what it opened; a second one ends the program at once.

namespace cli {

// Installs the handlers: on Linux for SIGINT, SIGTERM and SIGHUP, without SA_RESTART so that a
// blocking open or read comes back (EINTR) and the platform can give up waiting; on Windows for
// Ctrl+C (SIGINT) and Ctrl+Break (SIGTERM). The first signal records itself and calls
// platform::requestInterrupt(); a second one ends the program the system's default way.
void installStopHandlers();

// The first stop signal received, or 0.
int stopSignal();

// "SIGINT", "SIGTERM" or "SIGHUP"; "a signal" for any other number.
const char* stopSignalName(int signal);

namespace detail {
// Records the first stop signal and requests the interrupt; false when one was recorded before.
// Async-signal-safe.
bool recordStopSignal(int signal);
} // namespace detail

} // namespace cli
