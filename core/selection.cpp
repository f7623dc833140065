#include "core/selection.h"

#include "core/user_error.h"
#include "platform/platform.h"
#include "platform/utf8_path.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>

namespace selection {
namespace {

const std::string& cell(const Row& row, size_t column) {
    static const std::string empty;
    return column < row.size() ? row[column] : empty;
}

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    return std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
}

// Reads integers the way the edits always have: leading blanks, an optional sign, and a "$" or
// "0x" prefix for hexadecimal. Hexadecimal takes up to 16 digits and keeps the 64-bit pattern
// (FFFFFFFFFFFFFFFF is -1); decimal must fit in 64 signed bits.
bool readInteger(const std::string& text, int64_t& out) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = false;
    if (i < text.size() && text[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i >= text.size()) return false;
    uint64_t value = 0;
    if (hex) {
        size_t digits = 0;
        for (; i < text.size(); ++i) {
            if (!isHexDigit(text[i]) || ++digits > 16) return false;
            value = value << 4 | uint64_t(hexValue(text[i]));
        }
    } else {
        const uint64_t limit = negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                        : uint64_t(std::numeric_limits<int64_t>::max());
        for (; i < text.size(); ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
            const uint64_t digit = uint64_t(text[i] - '0');
            if (value > (limit - digit) / 10) return false;
            value = value * 10 + digit;
        }
    }
    out = negative ? int64_t(0 - value) : int64_t(value);
    return true;
}

} // namespace

int64_t columnNumber(const Row& row, size_t column) {
    int64_t value = 0;
    return readInteger(cell(row, column), value) ? value : 0;
}

TFileInfo fromFile(platform::Backend& backend, const TFileInfo& previous, const std::string& path) {
    std::error_code ec;
    const auto kind = std::filesystem::status(platform::pathFromUtf8(path), ec).type();
    if (kind == std::filesystem::file_type::fifo || kind == std::filesystem::file_type::socket)
        throw UserError("Cannot open file \"" + path +
                        "\". It is a pipe: its bytes can be read only once, so it cannot be selected.");
    int64_t size = 0;
    std::string identity;
    {
        auto stream = backend.open(path, platform::OpenMode::Read);
        if (!stream) throw UserError("Cannot open file \"" + path + "\". " + stream.error().text);
        auto length = (*stream)->length();
        if (!length) throw UserError("Cannot open file \"" + path + "\". " + length.error().text);
        size = *length;
        identity = (*stream)->fingerprint();
    }
    TFileInfo info = previous;
    info.FileName = path;
    info.Description = path;
    info.DisplayText = path;
    info.DefaultName = platform::utf8Name(platform::pathFromUtf8(path).filename());
    info.Offset = 0;
    info.Size = size;
    info.BaseOffset = 0;
    info.BaseSize = size;
    // A picked file is readable by definition; writable when it can be opened for writing.
    info.CanRead = true;
    info.CanWrite = static_cast<bool>(backend.open(path, platform::OpenMode::ReadWrite));
    info.Identity = identity;
    return info;
}

OpenedSelection openSelection(platform::Backend& backend, const TFileInfo& info, platform::OpenMode mode,
                              bool direct) {
    OpenedSelection opened;
    auto stream = direct ? backend.openDirect(info.FileName, mode) : backend.open(info.FileName, mode);
    if (!stream) {
        opened.error = stream.error();
        return opened;
    }
    // Checked on the open stream, not before opening, so the name cannot change in between.
    if (!info.Identity.empty() && (*stream)->fingerprint() != info.Identity) {
        opened.changed = true;
        return opened;
    }
    opened.stream = std::move(*stream);
    return opened;
}

std::string changedDeviceMessage(const TFileInfo& info) {
    return info.Description + " is no longer what was selected: " + info.FileName +
           " now leads to another device or file. Nothing was read or written. Select it again.";
}

std::string rangeDescription(const TFileInfo& info) {
    return info.DisplayText + " offset: " + std::to_string(info.Offset) +
           " size: " + std::to_string(info.Size);
}

int64_t parseInteger(const std::string& text, bool asHex) {
    int64_t value = 0;
    if (!readInteger(asHex ? "$" + text : text, value))
        throw UserError("'" + text + "' is not a valid integer value");
    return value;
}

std::string formatNumber(int64_t value, bool asHex) {
    if (!asHex) return std::to_string(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%08llX", static_cast<unsigned long long>(value));
    return buf;
}

bool offsetKeyAllowed(char32_t key, bool asHex) {
    if (key == 8 || key == 13 || (key >= '0' && key <= '9')) return true;
    return asHex && ((key >= 'A' && key <= 'F') || (key >= 'a' && key <= 'f'));
}

const std::vector<std::string>& adjustActionTexts() {
    static const std::vector<std::string> texts{
        "Skip 512 bytes (for example boot record)",
        "Select only boot record (MBR, code + partition table)",
        "Select MBR code only",
        "Select partition table only",
        "Undo changes",
    };
    return texts;
}

bool applyAdjust(TFileInfo& info, AdjustAction action) {
    switch (action) {
    case AdjustAction::None:
        return false;
    case AdjustAction::Skip512:
        // An item of fewer than 512 bytes has nothing left after them: an empty range, never a
        // negative one.
        info.Offset = info.BaseOffset <= INT64_MAX - 512 ? info.BaseOffset + 512 : INT64_MAX;
        info.Size = std::max<int64_t>(info.BaseSize - 512, 0);
        break;
    case AdjustAction::BootRecord:
        info.Offset = info.BaseOffset;
        info.Size = 512;
        break;
    case AdjustAction::MbrCode:
        info.Offset = info.BaseOffset;
        info.Size = 446;
        break;
    case AdjustAction::PartitionTable: // the four entries and the signature
        info.Offset = info.BaseOffset <= INT64_MAX - 446 ? info.BaseOffset + 446 : INT64_MAX;
        info.Size = 66;
        break;
    case AdjustAction::Undo:
        info.Offset = info.BaseOffset;
        info.Size = info.BaseSize;
        break;
    }
    info.Description = rangeDescription(info);
    return true;
}

bool copyEnabled(const TFileInfo& source, const TFileInfo& target) {
    return source.Size != 0 && source.Size == target.Size && source.Description != target.Description;
}

MenuState menuState(const TFileInfo& info) {
    MenuState s;
    s.selectionMenu = info.CanRead;
    s.saveAsZip = info.Size <= 0x7FFFFFFF && info.CanRead;
    s.loadItems = info.CanWrite;
    return s;
}

} // namespace selection
