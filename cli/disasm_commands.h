#pragma once
// tarnwick-cli disasm SOURCE [--offset N] [--max N] [--bits 16|32|64]: the disassembly listing
// on standard output, one instruction a line as address, bytes and instruction, tab-separated.
// --offset and --max count inside SOURCE, as --offset and --size do for the other commands.

#include "core/job.h"

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace platform {
class Backend;
}
namespace disasm {
class DisasmLibrary;
}

namespace cli {

// The largest --max: the listing's bytes are read and held at once.
inline constexpr int64_t kDisasmMaxBytes = int64_t(64) << 20;

// operands: SOURCE. options: "--offset", "--max", "--bits" with their texts (N decimal, or
// hexadecimal with 0x). Returns 0 when every byte asked for was read and listed, 1 when something
// failed (the reason on `err` or through `dialogs`). A usage error throws std::invalid_argument
// before anything is opened. Loads the disassembler library from the program's folder or the
// system's library path.
int disasmCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                  const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err);
// The same with a library already loaded (or none).
int disasmCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                  const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err, const disasm::DisasmLibrary& library);

} // namespace cli
