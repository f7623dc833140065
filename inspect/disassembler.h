#pragma once
// The disassembly listing: the bytes at a stream's position as x86 instructions, one row each,
// through the disassembler library. Also the rules of the disassembly window that are not about
// Qt: opening, jumping to an address, following a jump, the clipboard text. Plain C++, no Qt.

#include "core/fileinfo.h"
#include "core/job.h"
#include "inspect/disasm_library.h"
#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace disasm {

// The window's "Max nr. bytes" (8196, not 8192) and its initial value.
inline constexpr int kMaxBytesLimit = 8196;
inline constexpr int kDefaultMaxBytes = 512;

inline constexpr const char* kLibraryMissing = "Could not load disasm.dll.";
// "Failed to open <name>. It may be in use."
std::string openFailedMessage(const std::string& defaultName);
// "Warning. Could only read <n> bytes from device"
std::string shortReadMessage(int64_t bytesRead);
// "<text> is not a valid hexadecimal number"
std::string notHexMessage(const std::string& trimmedText);
// "Disassemble of <name>"
std::string windowCaption(const std::string& defaultName);

struct Row {
    Fields fields;
    int64_t offset = 0; // in the listing's code buffer
};

struct ListingResult {
    int64_t bytesRead = 0;
    int64_t rows = 0;
    bool stopped = false; // the job was asked to stop part-way
};

// Makes a listing of `maxBytes` bytes from the stream's position: reads them with one read (a
// short read is warned about, and the rest lists as zeros), then hands every instruction to
// `add` as it is decoded. Events are pumped whenever the running offset is a multiple of 16; a
// stop request ends the listing there. The job is busy meanwhile. Addresses are the low 32 bits
// of the stream's position plus the offset. Throws std::logic_error without a library.
ListingResult makeListing(platform::RawStream& stream, const DisasmLibrary& library, int64_t maxBytes,
                          Dialogs& dialogs, JobControl& job, const std::function<void(Row&&)>& add,
                          Mode mode = Mode::Real16);

// The opening steps of the disassembly command: opens the selection for reading and positions it
// at its offset; then, without the library, says so and closes it again. Every failure is shown
// and gives null.
std::unique_ptr<platform::RawStream> openForListing(platform::Backend& backend, Dialogs& dialogs,
                                                    const TFileInfo& selection, const DisasmLibrary& library);

// The address box's text, trimmed, as a 32-bit hexadecimal number. FFFFFFFF counts as no number,
// as the value that stands for one did; 80000000 and above are byte offsets like any other.
std::optional<uint32_t> parseAddress(const std::string& text);
// Jump: seeks the stream to the address typed, or shows why not. True when a listing should follow.
bool seekToAddress(platform::RawStream& stream, Dialogs& dialogs, const std::string& text);

// What a double click on a row with this disassembly puts into the address box before jumping:
// for a J... instruction whose operand ends in "h", the operand without it. Nothing otherwise.
std::optional<std::string> jumpTarget(const std::string& disassembly);

// Every row as "address TAB prefix TAB disassembly CR LF".
std::string clipboardText(const std::vector<Row>& rows);

} // namespace disasm
