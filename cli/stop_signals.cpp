#include "cli/stop_signals.h"

#include "platform/platform.h"

#include <atomic>
#include <csignal>

namespace cli {
namespace {
std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
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

bool outputClosed() {
#ifdef SIGPIPE
    return stopSignal() == SIGPIPE;
#else
    return false;
#endif
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
#ifdef SIGPIPE
    case SIGPIPE:
        return "SIGPIPE";
#endif
    default:
        return "a signal";
    }
}

} // namespace cli
