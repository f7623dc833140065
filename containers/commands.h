#pragma once
// The image container tool's commands: cdi-save, cdi-load and zip. Each takes the command line
// as the parser left it, asks through `dialogs` with the flags answering what they name, and
// returns 0 when done, 1 when it failed or was refused. A --hash list it cannot read throws
// UsageError before anything is opened.

#include "core/command.h"
#include "core/job.h"

#include <iosfwd>
#include <vector>

namespace platform {
class Backend;
}

namespace containers {

// cdi-save, cdi-load and zip, for the registry.
std::vector<cli::CommandSpec> commands();

// cdi-save SOURCE IMAGE [--offset N] [--size N] [--replace] [--hash LIST]
int cdiSaveCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs,
                   JobControl& job, std::ostream& out, std::ostream& err);

// cdi-load IMAGE TARGET [--offset N] [--size N] [--agree]
int cdiLoadCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs,
                   JobControl& job, std::ostream& out, std::ostream& err);

// zip SOURCE ARCHIVE [--offset N] [--size N] [--append | --replace] [--hash LIST]
int zipCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err);

} // namespace containers
