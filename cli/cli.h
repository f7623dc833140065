#pragma once
// tarnwick-cli: the engines behind a terminal. Kept apart from main() so tests run it in-process
// against a test backend.

#include "cli/command_line.h"
#include "core/fileinfo.h"
#include "core/report.h"
#include "jobs/digest_set.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace cli {

enum ExitCode { Completed = 0, Failed = 1, Usage = 2 };
// A stop signal (SIGINT, SIGTERM, SIGHUP) ends the program with this plus the signal's number,
// as a shell reports a program the signal killed: 130, 143, 129.
inline constexpr int kStoppedBySignal = 128;

struct Io {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool interactive = false;  // standard input is a terminal
    bool progressLine = false; // standard error is a terminal
};

// The exit status of a long action: 0 when every byte of the selection arrived, else 1.
inline int exitFor(const Report& report) {
    return report.outcome == Outcome::Completed ? Completed : Failed;
}

// Runs one command line. Every option, operand and number is checked before anything is opened.
int run(const std::vector<std::string>& args, platform::Backend& backend, Io io);

// "0" (a drive), "0p2" (the second row of drive 0's partition list), "C:" (a volume), or a path;
// then offset and size narrow it, counted inside that item: offset 0 is its first byte, and
// without a size the range runs to its end. The record holds absolute values, as the selection
// edits make them. Throws UserError, also for a range that does not lie inside the item.
TFileInfo resolveSelection(platform::Backend& backend, const std::string& spec,
                           std::optional<int64_t> offset = std::nullopt,
                           std::optional<int64_t> size = std::nullopt);

// The digests --hash names, or none. A list that names something else is a usage error.
std::optional<digest::Set> digestsFor(const CommandLine& args);

} // namespace cli
