#include "cli/stop_signals.h"

#include "platform/platform.h"

#include <atomic>
#include <csignal>

namespace cli {
namespace {
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// Windows has no SIGPIPE: a closed output is recorded under Linux's number, so that the program
// exits with the same status (141) on both.
#ifdef SIGPIPE
constexpr int kOutputClosed = SIGPIPE;
#else
constexpr int kOutputClosed = 13;
#endif
} // namespace

bool detail::recordStopSignal(int signal) {
    int none = 0;
    if (!gStopSignal.compare_exchange_strong(none, signal)) return false;
    platform::requestInterrupt();
    return true;
}

int stopSignal() {
    return gStopSignal.load();
}

void detail::recordOutputClosed() {
    recordStopSignal(kOutputClosed);
}

bool outputClosed() {
    return stopSignal() == kOutputClosed;
}

const char* stopSignalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
#ifdef SIGHUP
    case SIGHUP:
        return "SIGHUP";
#endif
    case kOutputClosed:
        return "SIGPIPE";
    default:
        return "a signal";
    }
}

} // namespace cli
