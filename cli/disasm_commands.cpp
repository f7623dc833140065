#include "cli/disasm_commands.h"

#include "cli/cli.h"
#include "core/selection.h"
#include "core/user_error.h"
#include "inspect/disassembler.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <stdexcept>

namespace cli {
namespace {

struct DisasmArgs {
    std::string source;
    std::optional<int64_t> offset;
    std::optional<int64_t> max; // default: kDefaultMaxBytes, or the rest of SOURCE when shorter
    disasm::Mode mode = disasm::Mode::Real16;
};

int64_t number(const std::string& option, const std::string& text) {
    try {
        return selection::parseInteger(text, false);
    } catch (const UserError& e) {
        throw std::invalid_argument(option + ": " + e.what());
    }
}

// Every mistake is found here, before anything is opened or loaded.
DisasmArgs parse(const std::vector<std::string>& operands,
                 const std::map<std::string, std::string>& options) {
    if (operands.empty()) throw std::invalid_argument("disasm needs one SOURCE");
    if (operands.size() > 1)
        throw std::invalid_argument("too many arguments for disasm: '" + operands[1] +
                                    "' (disasm takes SOURCE)");
    DisasmArgs a;
    a.source = operands[0];
    for (const auto& [option, value] : options) {
        if (option == "--offset") {
            a.offset = number(option, value);
            if (*a.offset < 0) throw std::invalid_argument("--offset: must not be negative");
        } else if (option == "--max") {
            a.max = number(option, value);
            if (*a.max < 0 || *a.max > kDisasmMaxBytes)
                throw std::invalid_argument("--max: must be 0 to " + std::to_string(kDisasmMaxBytes));
        } else if (option == "--bits") {
            const int64_t bits = number(option, value);
            if (bits == 16)
                a.mode = disasm::Mode::Real16;
            else if (bits == 32)
                a.mode = disasm::Mode::Protected32;
            else if (bits == 64)
                a.mode = disasm::Mode::Long64;
            else
                throw std::invalid_argument("--bits: must be 16, 32 or 64");
        } else {
            throw std::invalid_argument(option +
                                        " is not an option of disasm (disasm takes --offset, --max, --bits)");
        }
    }
    return a;
}

} // namespace

int disasmCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                  const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err) {
    parse(operands, options);
    const disasm::DisasmLibrary library = disasm::DisasmLibrary::load();
    return disasmCommand(backend, operands, options, dialogs, job, out, err, library);
}

int disasmCommand(platform::Backend& backend, const std::vector<std::string>& operands,
                  const std::map<std::string, std::string>& options, Dialogs& dialogs, JobControl& job,
                  std::ostream& out, std::ostream& err, const disasm::DisasmLibrary& library) {
    const DisasmArgs args = parse(operands, options);
    // --offset and --max count inside SOURCE as --offset and --size do elsewhere: a listing that
    // would leave it is refused, and the default stops at its end.
    TFileInfo source;
    try {
        source = resolveSelection(backend, args.source, args.offset, args.max);
    } catch (const UserError& e) {
        err << e.what() << "\n";
        return 1;
    }
    const int64_t max = args.max.value_or(std::min<int64_t>(disasm::kDefaultMaxBytes, source.Size));
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
        args.mode);
    out.flush();
    if (!out) {
        err << "Cannot write the listing.\n";
        return 1;
    }
    return result.bytesRead == max && !result.stopped ? 0 : 1;
}

} // namespace cli
