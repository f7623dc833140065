#include "inspect/commands.h"

#include "discovery/selections.h"
#include "inspect/disassembler.h"

#include <algorithm>
#include <optional>
#include <ostream>

namespace inspect {

using cli::CommandLine;
using cli::UsageError;
namespace {

struct DisasmArgs {
    std::optional<int64_t> max; // default: kDefaultMaxBytes, or the rest of SOURCE when shorter
    disasm::Mode mode = disasm::Mode::Real16;
};

// What only the listing knows is checked here, before anything is opened or loaded.
DisasmArgs parse(const CommandLine& line) {
    DisasmArgs a;
    if (const auto bits = line.number("--bits")) {
        if (*bits == 16)
            a.mode = disasm::Mode::Real16;
        else if (*bits == 32)
            a.mode = disasm::Mode::Protected32;
        else if (*bits == 64)
            a.mode = disasm::Mode::Long64;
        else
            throw UsageError("--bits: must be 16, 32 or 64", line.command);
    }
    a.max = line.number("--max");
    if (a.max && *a.max > kDisasmMaxBytes)
        throw UsageError("--max: must be 0 to " + std::to_string(kDisasmMaxBytes), line.command);
    return a;
}

} // namespace

int disasmCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err) {
    parse(args);
    const disasm::DisasmLibrary library = disasm::DisasmLibrary::load();
    return disasmCommand(backend, args, dialogs, job, out, err, library);
}

int disasmCommand(platform::Backend& backend, const CommandLine& args, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err, const disasm::DisasmLibrary& library) {
    const DisasmArgs a = parse(args);
    // --offset and --max count inside SOURCE as --offset and --size do elsewhere: a listing that
    // would leave it is refused, and the default stops at its end.
    const auto found =
        selections::resolveOrSay(backend, args.operands[0], args.number("--offset"), a.max, err);
    if (!found) return 1;
    const TFileInfo& source = *found;
    const int64_t max = a.max.value_or(std::min<int64_t>(disasm::kDefaultMaxBytes, source.Size));
    if (!library.available()) {
        // The window's message names a Windows file; a terminal user needs what was looked for.
        err << library.notLoadedMessage() << "\n";
        return 1;
    }
    const auto stream = disasm::openForListing(backend, dialogs, source, library);
    if (!stream) return 1;
    const auto result = disasm::makeListing(
        *stream, library, max, dialogs, job,
        [&out](disasm::Row&& row) {
            out << row.fields.address << '\t' << row.fields.prefix << '\t' << row.fields.disassembly << '\n';
        },
        a.mode);
    out.flush();
    if (!out) {
        err << "Cannot write the listing.\n";
        return 1;
    }
    return result.bytesRead == max && !result.stopped ? 0 : 1;
}

} // namespace inspect
