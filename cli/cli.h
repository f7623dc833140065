#pragma once
// tarnwick-cli: the engines behind a terminal. Kept apart from main() so tests run it in-process
// against a test backend.

#include "cli/command_line.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace cli {

// The same for every command: 0 done, 1 failed, 2 a usage error (nothing was opened), 3 refused by
// the user or the overwrite gate (a question took its safe answer), 128 + n stopped by signal n.
enum ExitCode { Completed = 0, Failed = 1, Usage = 2, Refused = 3 };
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

// Runs one command line. Every option, operand and number is checked before anything is opened.
int run(const std::vector<std::string>& args, platform::Backend& backend, Io io);

} // namespace cli
