#pragma once
// tarnwick-cli's arguments: each command names its operands and the options it uses, and
// anything else is a usage error found before a device or file is opened.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// A mistake in the arguments. `command` picks the usage shown with it (empty: the general one).
// Code that runs a command directly can catch it as any invalid argument.
struct UsageError : std::invalid_argument {
    UsageError(const std::string& message, std::string command = {})
        : std::invalid_argument(message), command(std::move(command)) {}
    std::string command;
};

// What parseCommandLine guarantees: the command's operands are all there, every option is one the
// command takes and given once, no two exclude each other, numbers are not negative, a text is not
// empty unless the command takes it so, and a required option is given. What a value means beyond
// that (a --pattern byte, a --width of 16 or 32) the command checks.
struct CommandLine {
    std::string command;                      // empty only with --help or --version
    std::vector<std::string> operands;        // the command's own arguments, in order
    std::map<std::string, int64_t> numbers;   // "--offset" -> 4096
    std::map<std::string, std::string> texts; // options whose value is a word or text: "--filter" -> "blank"
    std::set<std::string> flags;              // "--agree"
    bool demo = false;
    bool help = false;
    bool version = false;

    std::optional<int64_t> number(const std::string& option) const {
        const auto it = numbers.find(option);
        return it == numbers.end() ? std::nullopt : std::optional<int64_t>(it->second);
    }
    // The option's text, or an empty one when it was not given.
    std::string text(const std::string& option) const {
        const auto it = texts.find(option);
        return it == texts.end() ? std::string() : it->second;
    }
    // The option was given, whatever its kind.
    bool has(const std::string& option) const {
        return flags.count(option) != 0 || texts.count(option) != 0 || numbers.count(option) != 0;
    }
};

// Throws UsageError.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The full help, or one command's help when `command` names one.
std::string helpText(const std::string& command = {});
// The short reminder printed under a usage error.
std::string usageText(const std::string& command = {});
// The program's version and the versions of the libraries it was built with.
std::string versionText();

} // namespace cli
