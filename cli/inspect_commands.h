#pragma once
// tarnwick-cli's inspection commands: hexdump prints the page the hex viewer's refresh would show,
// map writes the byte map the graphical view would draw as a PNG file.
//
// Options come with their leading dashes ("--filter" -> "blank"); flags have an empty value.
// Both return 0 when done and 1 when something failed or was refused (the reason is on `err` or
// was shown through `dialogs`); a mistake in the arguments throws std::invalid_argument before
// anything is opened.

#include "core/job.h"

#include <iosfwd>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace platform {
class Backend;
}

namespace cli {

int hexdumpCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                   const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                   std::ostream& out, std::ostream& err);

int mapCommand(platform::Backend& backend, const std::vector<std::string>& operands,
               const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err);

// The two commands' operands, options and help lines, for the command table and --help.
struct InspectCommand {
    std::string name;
    std::vector<std::string> operands;
    std::string summary;
    // Option (with a value placeholder when it takes one) and its help line.
    std::vector<std::pair<std::string, std::string>> options;
    // Options that are flags (take no value).
    std::vector<std::string> flags;
};
const std::vector<InspectCommand>& inspectCommands();

} // namespace cli
