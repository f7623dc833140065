#include "inspect/disassembler.h"

#include "jobs/range_job.h"
#include "plugins/disasm/disasm_abi.h"

#include <algorithm>
#include <stdexcept>

namespace disasm {
namespace {

// Blanks and control characters off both ends, as the address box is read.
std::string trimmed(const std::string& text) {
    const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    const auto first = std::find_if_not(text.begin(), text.end(), blank);
    const auto last =
        std::find_if_not(text.rbegin(), std::string::const_reverse_iterator(first), blank).base();
    return std::string(first, last);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Busy for as long as the listing runs, on every way out.
class BusyJob {
public:
    explicit BusyJob(JobControl& job) : job_(job) {
        job_.busy(true);
        job_.stoppable(true);
    }
    ~BusyJob() {
        job_.stoppable(false);
        job_.busy(false);
    }
    BusyJob(const BusyJob&) = delete;
    BusyJob& operator=(const BusyJob&) = delete;

private:
    JobControl& job_;
};

} // namespace

std::string openFailedMessage(const std::string& defaultName) {
    return "Failed to open " + defaultName + ". It may be in use.";
}

std::string shortReadMessage(int64_t bytesRead) {
    return "Warning. Could only read " + std::to_string(bytesRead) + " bytes from device";
}

std::string notHexMessage(const std::string& trimmedText) {
    return trimmedText + " is not a valid hexadecimal number";
}

std::string windowCaption(const std::string& defaultName) {
    return "Disassemble of " + defaultName;
}

ListingResult makeListing(platform::RawStream& stream, const DisasmLibrary& library, int64_t maxBytes,
                          Dialogs& dialogs, JobControl& job, const std::function<void(Row&&)>& add,
                          Mode mode) {
    if (maxBytes < 0) throw std::invalid_argument("a listing cannot have a negative length");
    if (!library.available()) throw std::logic_error("the disassembler library is not loaded");
    BusyJob busy(job);
    ListingResult result;

    // Room behind the code, so that an instruction that starts near the end decodes without
    // reading past the buffer: it holds the bytes that follow the listed ones where there are
    // some (an instruction that starts inside the listing is decoded from its real bytes), zeros
    // where the data ended, and zeros for the bytes a short read left out.
    std::vector<uint8_t> code(size_t(maxBytes) + kDisasmCodePadding, 0);
    const uint32_t base = uint32_t(uint64_t(stream.position().valueOr(0)));
    const auto read = stream.read(code.data(), maxBytes);
    result.bytesRead = read ? *read : 0;
    if (result.bytesRead < maxBytes) {
        std::string warning = shortReadMessage(result.bytesRead);
        if (!read) warning += "\n" + read.error().text;
        dialogs.message(warning);
    } else if (maxBytes > 0) {
        (void)stream.read(code.data() + maxBytes, kDisasmCodePadding); // what it could not read stays zero
    }

    const std::span<const uint8_t> all(code);
    int64_t offset = 0;
    while (offset < maxBytes) {
        Decoded d = library.decode(all.subspan(size_t(offset)), base + uint32_t(offset), mode);
        add(Row{std::move(d.fields), offset});
        ++result.rows;
        // A length below 1 still moves on, so that every listing ends.
        offset += std::max<int32_t>(d.length, 1);
        if (offset % 16 == 0) {
            job.pump();
            if (job.stopRequested()) {
                result.stopped = true;
                break;
            }
        }
    }
    return result;
}

std::unique_ptr<platform::RawStream> openForListing(platform::Backend& backend, Dialogs& dialogs,
                                                    const TFileInfo& selection,
                                                    const DisasmLibrary& library) {
    jobs::RangeJob range(backend, dialogs);
    auto stream = range.open(selection, platform::OpenMode::Read, openFailedMessage(selection.DefaultName));
    if (!stream) return nullptr;
    if (selection.Offset != 0) {
        const auto failed = [&](const platform::Error* e) {
            dialogs.message("Cannot go to byte " + std::to_string(selection.Offset) + " of " +
                            selection.DefaultName + (e ? ": " + e->text : std::string(".")));
        };
        if (!range.position(*stream, selection.Offset, failed)) return nullptr;
    }
    if (!library.available()) {
        dialogs.message(kLibraryMissing);
        return nullptr;
    }
    return stream;
}

std::optional<uint32_t> parseAddress(const std::string& text) {
    const std::string t = trimmed(text);
    if (t.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : t) {
        const int digit = hexValue(c);
        if (digit < 0) return std::nullopt;
        value = value << 4 | uint64_t(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    if (value == 0xFFFFFFFFu) return std::nullopt;
    return uint32_t(value);
}

bool seekToAddress(platform::RawStream& stream, Dialogs& dialogs, const std::string& text) {
    const auto address = parseAddress(text);
    if (!address) {
        dialogs.message(notHexMessage(trimmed(text)));
        return false;
    }
    const auto pos = stream.seek(int64_t(*address), platform::SeekOrigin::Begin);
    if (!pos) {
        dialogs.message("Cannot go to byte " + std::to_string(*address) + ": " + pos.error().text);
        return false;
    }
    return true;
}

std::optional<std::string> jumpTarget(const std::string& disassembly) {
    if (disassembly.empty() || disassembly[0] != 'J') return std::nullopt;
    const size_t blank = disassembly.find(' ');
    std::string operand = trimmed(blank == std::string::npos ? disassembly : disassembly.substr(blank + 1));
    if (operand.empty() || operand.back() != 'h') return std::nullopt;
    operand.pop_back();
    return operand;
}

std::string clipboardText(const std::vector<Row>& rows) {
    std::string text;
    for (const Row& r : rows)
        text += r.fields.address + "\t" + r.fields.prefix + "\t" + r.fields.disassembly + "\r\n";
    return text;
}

} // namespace disasm
