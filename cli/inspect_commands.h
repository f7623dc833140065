#pragma once
// tarnwick-cli's inspection commands: hexdump prints the page the hex viewer's refresh would show,
// map writes the byte map the graphical view would draw as a PNG file.
//
// Both take the command line as parseCommandLine left it and return 0 when done and 1 when
// something failed or was refused (the reason is on `err` or was shown through `dialogs`); a value
// the command cannot use (a --filter kind, a --width, --sectors-per-pixel) throws UsageError
// before anything is opened.

#include "cli/command_line.h"
#include "core/job.h"

#include <iosfwd>

namespace platform {
class Backend;
}

namespace cli {

int hexdumpCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                   std::ostream& out, std::ostream& err);

int mapCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err);

} // namespace cli
