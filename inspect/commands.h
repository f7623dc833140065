#pragma once
// The inspection tool's commands: hexdump prints the page the hex viewer's refresh would show, map
// writes the byte map the graphical view would draw as a PNG file, disasm lists instructions as
// the disassembly window does.
//
// Each takes the command line as the parser left it and returns 0 when done and 1 when something
// failed or was refused (the reason is on `err` or was shown through `dialogs`); a value the
// command cannot use (a --filter kind, a --width, --sectors-per-pixel, --bits) throws UsageError
// before anything is opened.

#include "core/command.h"
#include "core/job.h"

#include <cstdint>
#include <iosfwd>
#include <vector>

namespace platform {
class Backend;
}
namespace disasm {
class DisasmLibrary;
}

namespace inspect {

// hexdump, map and disasm, for the registry.
std::vector<cli::CommandSpec> commands();

int hexdumpCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs,
                   JobControl& job, std::ostream& out, std::ostream& err);

int mapCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
               std::ostream& out, std::ostream& err);

inline constexpr int64_t kDisasmMaxBytes = int64_t(64) << 20;

// With the disassembler library found where the program looks for it, or with the one given.
int disasmCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err);
int disasmCommand(platform::Backend& backend, const cli::CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err, const disasm::DisasmLibrary& library);

} // namespace inspect
