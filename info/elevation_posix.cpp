// What the process knows about its rights, and starting pkexec, on Linux and other POSIX systems.

#include "info/elevation.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

extern char** environ;

namespace info {

ElevationFacts currentElevationFacts(bool declined) {
    ElevationFacts facts;
    facts.runningAsRoot = ::geteuid() == 0;
    const char* path = std::getenv("PATH");
    facts.pkexec = findOnPath("pkexec", path && *path ? path : "/usr/bin:/bin");
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
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return std::nullopt;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return std::nullopt;
}

} // namespace info
