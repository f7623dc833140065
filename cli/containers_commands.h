#pragma once
// tarnwick-cli's image container commands: cdi-save, cdi-load and zip. Each takes its operands
// and options as the command line gave them (a flag has an empty value), asks through `dialogs`
// with the flags answering what they name, and returns 0 when done, 1 when it failed or was
// refused. A usage mistake throws std::invalid_argument before anything is opened.

#include "core/job.h"

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace cli {

// cdi-save SOURCE IMAGE [--offset N] [--size N] [--replace]
int cdiSaveCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                   const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                   std::ostream& out, std::ostream& err);

// cdi-load IMAGE TARGET [--offset N] [--size N] [--agree]
int cdiLoadCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                   const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                   std::ostream& out, std::ostream& err);

// zip SOURCE ARCHIVE [--offset N] [--size N] [--append | --replace]
int zipCommand(platform::Backend& backend, const std::vector<std::string>& operands,
               const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err);

} // namespace cli
