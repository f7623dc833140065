#pragma once
// The rescue tool's command: rescue SOURCE IMAGE MAPFILE. It prints the ranges that stayed
// unreadable and a summary, and returns 0 when every byte was rescued, 1 otherwise. A --fill that
// is no hexadecimal pattern or --retries past 255 throws UsageError before anything is opened.

#include "core/command.h"
#include "core/job.h"

#include <iosfwd>
#include <vector>

namespace platform {
class Backend;
}

namespace rescue {

// rescue, for the registry.
std::vector<cli::CommandSpec> commands();

// rescue SOURCE IMAGE MAPFILE [--offset N] [--size N] [--fill HEX] [--retries N] [--reverse]
//        [--no-split] [--replace] [--buffered]
// Prints "Bad: <offset> <size> (byte <position> of <device>)" per bad range, "Failed: ..." per
// block left unsplit, then the summary line.
int rescueCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err);

} // namespace rescue
