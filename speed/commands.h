#pragma once
// The speed tool's commands: speed and seek. Each takes the command line as the parser left it,
// prints one tab-separated row per measurement as it comes and then the two result lines, and
// returns 0 when the test ran to its end, 1 otherwise. --replace without --png throws UsageError
// before anything is opened.

#include "core/command.h"
#include "core/job.h"

#include <iosfwd>
#include <vector>

namespace platform {
class Backend;
}

namespace speed {

// speed and seek, for the registry.
std::vector<cli::CommandSpec> commands();

// speed SOURCE [--png OUT.png] [--offset N] [--size N] [--json]
// Prints one tab-separated row per sample, then the two result lines; with --json, one object
// with the samples and the results' numbers once the test ends.
int speedCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                 std::ostream& out, std::ostream& err);
// seek SOURCE [--png OUT.png] [--offset N] [--size N] [--json]
// Prints one tab-separated row per access, then the two result lines.
int seekCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                std::ostream& out, std::ostream& err);

} // namespace speed
