#pragma once
// The raw transfers' commands: dump, restore and copy. The flags' answers (--agree, --truncate,
// --replace ...) are in the dialogs they are given; each returns 0 when every byte arrived, 1
// otherwise.

#include "core/command.h"
#include "core/job.h"

#include <iosfwd>
#include <vector>

namespace platform {
class Backend;
}

namespace transfer {

// dump, restore and copy, for the registry.
std::vector<cli::CommandSpec> commands();

// IMAGE "-" is standard output for dump and standard input for restore.
int dumpCommand(cli::CommandContext& context);
int restoreCommand(cli::CommandContext& context);
int copyCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                std::ostream& out, std::ostream& err);

} // namespace transfer
