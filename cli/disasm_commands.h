#pragma once
// tarnwick-cli disasm SOURCE [--offset N] [--max N] [--bits 16|32|64]: the disassembly listing
// on standard output, one instruction a line as address, bytes and instruction, tab-separated.
// --offset and --max count inside SOURCE, as --offset and --size do for the other commands.

#include "cli/command_line.h"
#include "core/job.h"

#include <cstdint>
#include <iosfwd>

namespace platform {
class Backend;
}
namespace disasm {
class DisasmLibrary;
}

namespace cli {

// The largest --max: the listing's bytes are read and held at once.
inline constexpr int64_t kDisasmMaxBytes = int64_t(64) << 20;

// The command line as parseCommandLine left it. Returns 0 when every byte asked for was read and
// listed, 1 when something failed (the reason on `err` or through `dialogs`). A --bits or --max
// the listing cannot use throws UsageError before anything is opened. Loads the disassembler
// library from the program's folder or the system's library path.
int disasmCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err);
// The same with a library already loaded (or none).
int disasmCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err, const disasm::DisasmLibrary& library);

} // namespace cli
