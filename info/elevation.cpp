#include "info/elevation.h"

#include <filesystem>
#include <system_error>

#ifndef TARNWICK_POLICY_PROGRAM
#define TARNWICK_POLICY_PROGRAM "/usr/bin/tarnwick"
#endif

namespace info {

ElevationChoice decideElevation(const ElevationFacts& facts) {
    if (facts.runningAsRoot) return ElevationChoice::None;
    if (facts.pkexec.empty() || facts.declined || facts.cannotAsk) return ElevationChoice::Hint;
    return ElevationChoice::Offer;
}

std::string driveAccessHint(const ElevationFacts& facts) {
    const std::string how = facts.pkexec.empty() ? "start it as root (for example with sudo)"
                                                 : "start it with administrator rights (pkexec tarnwick)";
    return "Hint: drives that Tarnwick may not open are not listed; " + how + " to see them.";
}

DriveAccessHint::DriveAccessHint(const ElevationFacts& facts) {
    if (decideElevation(facts) != ElevationChoice::None) text_ = driveAccessHint(facts);
}

std::optional<std::string> DriveAccessHint::take() {
    std::optional<std::string> text;
    text.swap(text_);
    return text;
}

std::string findOnPath(std::string_view name, std::string_view searchPath) {
    namespace fs = std::filesystem;
    size_t start = 0;
    while (start <= searchPath.size()) {
        size_t end = searchPath.find(':', start);
        if (end == std::string_view::npos) end = searchPath.size();
        const fs::path folder(std::string(searchPath.substr(start, end - start)));
        const fs::path candidate = (folder.empty() ? fs::path(".") : folder) / std::string(name);
        std::error_code ec;
        const auto status = fs::status(candidate, ec);
        const auto exec = fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
        if (!ec && fs::is_regular_file(status) && (status.permissions() & exec) != fs::perms::none)
            return candidate.string();
        start = end + 1;
    }
    return {};
}

std::vector<std::string> elevatedCommand(const std::string& pkexec, const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::string& policyProgram,
                                         const std::vector<std::string>& environment) {
    std::vector<std::string> command{pkexec};
    if (program != policyProgram) {
        // pkexec's own action clears the environment; env hands the display back.
        command.emplace_back("/usr/bin/env");
        for (const auto& entry : environment)
            if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("XAUTHORITY=", 0) == 0)
                command.push_back(entry);
    }
    command.push_back(program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

std::string policyProgram() {
    return TARNWICK_POLICY_PROGRAM;
}

bool elevationRefused(std::optional<int> exitStatus) {
    return !exitStatus || *exitStatus == 126 || *exitStatus == 127;
}

} // namespace info
