// What the process knows about its rights, and starting pkexec, on Linux and other POSIX systems.

#include "info/elevation.h"
#include "platform/platform.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

extern char** environ;

namespace info {

ElevationFacts currentElevationFacts(bool declined) {
    ElevationFacts facts;
    facts.runningAsRoot = ::geteuid() == 0;
    // pkexec is a set-user-ID program of the system: a copy elsewhere on PATH is not it, and an
    // empty PATH entry would make it whatever file the current folder holds.
    facts.pkexec = findOnPath("pkexec", "/usr/bin:/bin");
    facts.declined = declined;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string_view qpa = platform ? platform : "";
    facts.cannotAsk = qpa.rfind("offscreen", 0) == 0 || qpa.rfind("minimal", 0) == 0;
    return facts;
}

std::optional<int> runAndWait(const std::vector<std::string>& command) {
    if (command.empty()) return std::nullopt;
    std::vector<char*> argv;
    for (const auto& a : command)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return std::nullopt;
    // Polled rather than a blocking waitpid: an end signal that lands just before the wait would
    // otherwise be noticed only when the command ends, which may be never.
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) return std::nullopt;
        if (platform::interruptRequested()) {
            // Best effort: once pkexec runs the program as root, it is no longer ours to signal.
            ::kill(child, SIGTERM);
            return std::nullopt;
        }
        const timespec pause{0, 20'000'000};
        ::nanosleep(&pause, nullptr);
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return std::nullopt;
}

} // namespace info
