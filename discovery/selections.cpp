#include "discovery/selections.h"

#include "core/selection.h"
#include "core/user_error.h"
#include "platform/platform.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <ostream>

namespace selections {

TFileInfo fromDrive(const drives::DriveRow& row) {
    const std::string n = std::to_string(row.index);
    TFileInfo info;
    info.FileName = platform::physicalDriveName(row.index);
    info.Description = "Logical drive " + n;
    info.DefaultName = "DRIVE_" + n;
    info.DefaultExt = ".drv";
    info.Size = row.size;
    info.Offset = 0;
    info.DisplayText = "LOGICAL DRIVE " + n + "   ( " + std::to_string(row.sizeMiB()) + " MiB )";
    info.BaseOffset = info.Offset;
    info.BaseSize = info.Size;
    info.DriveText = n;
    info.CanRead = true;
    info.CanWrite = true;
    info.Identity = row.identity;
    return info;
}

TFileInfo fromPartition(const PartitionRow& row, const std::string& identity) {
    if (!row.refusal.empty()) throw UserError(row.refusal);
    const std::string& i = row.index;
    const std::string& d = row.drive;
    TFileInfo info;
    info.FileName = "\\\\.\\PHYSICALDRIVE" + d;
    info.DefaultName = "DRIVE_" + d + "P" + i;
    info.DefaultExt = ".prt";
    info.Size = row.byteSize;
    info.Offset = row.byteOffset;
    info.Description = "Logical drive " + d + " partition " + i + " offset: " + std::to_string(info.Offset) +
                       " size: " + std::to_string(info.Size);
    info.DisplayText = "LOGICAL DRIVE " + d + " PARTITION " + i + "   ( " +
                       std::to_string(row.byteSize / 1048576) + " MiB )";
    info.BaseOffset = info.Offset;
    info.BaseSize = info.Size;
    info.DriveText = d;
    info.CanRead = true;
    info.CanWrite = true;
    info.Identity = identity;
    return info;
}

TFileInfo fromVolume(const volumes::VolumeRow& row) {
    const std::string station = row.station();
    const std::string type = volumes::driveTypeText(row.driveType);
    const bool dvd = type.find("dvd") != std::string::npos;
    const bool network = type == "Network";
    TFileInfo info;
    info.FileName = std::string("\\\\.\\") + row.letter + ":";
    info.Description = station;
    info.DefaultName = row.label;
    info.DefaultExt = dvd ? ".iso" : ".raw";
    info.Size = row.totalBytes;
    info.Offset = 0;
    info.DisplayText = "Volume: " + station + " " + row.label;
    info.BaseOffset = info.Offset;
    info.BaseSize = info.Size;
    info.DriveText = station;
    info.CanRead = !network;
    info.CanWrite = !network && !dvd;
    info.Identity = row.identity;
    return info;
}

namespace {

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

} // namespace

// "0" to "99": a drive number.
bool isDriveNumber(const std::string& s) {
    return allDigits(s) && s.size() <= 2;
}

namespace {

// "<drive>p<row>", for example "0p2".
bool isPartitionSpec(const std::string& s, std::string& drive, std::string& row) {
    const auto p = s.find_first_of("pP");
    if (p == std::string::npos) return false;
    drive = s.substr(0, p);
    row = s.substr(p + 1);
    return isDriveNumber(drive) && allDigits(row) && row.size() <= 9;
}

// "C:" or "C:\".
bool isVolumeSpec(const std::string& s) {
    return (s.size() == 2 || (s.size() == 3 && s[2] == '\\')) &&
           std::isalpha(static_cast<unsigned char>(s[0])) && s[1] == ':';
}

// --offset and --size count inside the item (offset 0 is its first byte; --offset alone takes
// the rest of it); the record holds the absolute values, as the window's edits would. A range
// that leaves the item is refused here, before the action opens anything.
void narrow(TFileInfo& info, const std::string& spec, std::optional<int64_t> offset,
            std::optional<int64_t> size) {
    const int64_t first = offset.value_or(0);
    const auto item = platform::ByteRange::make(0, info.Size);
    const std::string itemText = spec + " has " + std::to_string(info.Size) + " bytes: ";
    const char* const rule = " (offsets and sizes count from its start). Nothing was read or written.";
    if (!item || first < 0 || first > item->end())
        throw UserError(itemText + "byte " + std::to_string(first) + " lies outside it" + rule);
    const int64_t length = size.value_or(item->end() - first);
    const auto wanted = platform::ByteRange::make(first, length);
    if (!wanted || !item->contains(*wanted))
        throw UserError(itemText + "the range from byte " + std::to_string(first) + " for " +
                        std::to_string(length) + " bytes leaves it" + rule);
    info.Offset += first;
    info.Size = length;
    // The window's edits rebuild the description the same way, from the absolute values.
    info.Description = selection::rangeDescription(info);
}

} // namespace

TFileInfo resolve(platform::Backend& backend, const std::string& spec, std::optional<int64_t> offset,
                  std::optional<int64_t> size) {
    TFileInfo info;
    std::string drive, rowText;
    if (isDriveNumber(spec)) {
        const int n = std::stoi(spec);
        const auto rows = drives::scan(backend);
        if (n >= int(rows.size())) throw UserError("There is no physical drive " + std::to_string(n) + ".");
        info = selections::fromDrive(rows[size_t(n)]);
    } else if (isPartitionSpec(spec, drive, rowText)) {
        const PartitionWalkResult walk =
            ReadPartitionTable(backend, platform::physicalDriveName(std::stoi(drive)), drive, 0);
        const size_t row = size_t(std::stoul(rowText));
        if (row == 0 || row > walk.rows.size()) {
            std::string text;
            for (const auto& message : walk.messages)
                text += message + "\n";
            throw UserError(text + "The partition list of drive " + drive + " has no row " + rowText + ".");
        }
        info = selections::fromPartition(walk.rows[row - 1], walk.identity);
    } else if (isVolumeSpec(spec)) {
        const char letter = char(std::toupper(static_cast<unsigned char>(spec[0])));
        // The volume list never holds A:, so neither does a selection.
        const auto row = letter == 'A' ? std::nullopt : volumes::query(backend, letter);
        if (!row) throw UserError(std::string("There is no volume ") + letter + ":.");
        info = selections::fromVolume(*row);
    } else {
        info = selection::fromFile(backend, TFileInfo{}, spec);
    }
    narrow(info, spec, offset, size);
    return info;
}

std::optional<TFileInfo> resolveOrSay(platform::Backend& backend, const std::string& spec,
                                      std::optional<int64_t> offset, std::optional<int64_t> size,
                                      std::ostream& err) {
    try {
        return resolve(backend, spec, offset, size);
    } catch (const UserError& e) {
        err << e.what() << "\n";
        return std::nullopt;
    }
}

} // namespace selections
