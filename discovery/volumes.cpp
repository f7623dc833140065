#include "discovery/volumes.h"

#include "platform/platform.h"

#include <cstdio>

namespace volumes {

std::string VolumeRow::station() const {
    return std::string(1, letter) + ":\\";
}

selection::Row VolumeRow::texts() const {
    char serialText[16];
    std::snprintf(serialText, sizeof serialText, "%08X", unsigned(serial));
    return {
        label,
        station(),
        driveTypeText(driveType),
        fileSystem,
        std::to_string(totalBytes / 1024 / 1024),
        std::to_string(freeBytes / 1024 / 1024),
        serialText,
        std::to_string(maxComponentLength) + " characters",
        std::to_string(totalBytes),
        std::to_string(freeBytes),
        std::to_string(driveType),
    };
}

const std::vector<std::string>& columnTitles() {
    static const std::vector<std::string> titles{
        "Label",     "Station", "Drive type",    "Filesystem",   "Size (MiB)",
        "Available", "Serial",  "Max File name", "Size (bytes)", "Available (bytes)",
    };
    return titles;
}

std::string driveTypeText(int driveType) {
    static const char* const texts[] = {
        "Unknown drive type", "Has no root", "Removable", "Hard disk", "Network", "cdrom/dvd", "RAM Disk"};
    if (driveType < 0 || driveType > 6) return texts[0];
    return texts[driveType];
}

std::optional<VolumeRow> query(platform::Backend& backend, char letter) {
    const int type = backend.driveType(letter);
    auto info = backend.volumeInformation(letter);
    if (!info) return std::nullopt; // no medium, no such drive, no access
    VolumeRow row;
    row.letter = letter;
    row.label = info->label;
    row.driveType = type;
    row.fileSystem = info->fileSystem;
    row.serial = info->serial;
    row.maxComponentLength = info->maxComponentLength;
    if (auto space = backend.freeSpace(row.station())) {
        row.totalBytes = space->total;
        row.freeBytes = space->totalFree;
    }
    // Network shares and RAM file systems have no device to open; they keep the file system's size.
    if (auto device = backend.open(std::string("\\\\.\\") + letter + ":", platform::OpenMode::Read)) {
        if (auto length = (*device)->lengthInfo(); length && *length > 0) row.totalBytes = *length;
        row.identity = (*device)->fingerprint();
    }
    return row;
}

void scan(platform::Backend& backend, const std::function<bool(const VolumeRow&)>& onRow) {
    for (char letter = 'Z'; letter >= 'B'; --letter) {
        const auto row = query(backend, letter);
        if (row && !onRow(*row)) return;
    }
}

std::vector<VolumeRow> list(platform::Backend& backend) {
    std::vector<VolumeRow> rows;
    scan(backend, [&rows](const VolumeRow& row) {
        rows.insert(rows.begin(), row);
        return true;
    });
    return rows;
}

bool labelEditAllowed(const selection::Row& row) {
    return selection::columnNumber(row, kDriveTypeNumberColumn) != platform::DriveCdRom;
}

LabelEdit commitLabel(platform::Backend& backend, const selection::Row& row, const std::string& newText) {
    const std::string caption = row.empty() ? std::string() : row[kLabelColumn];
    if (newText == caption) return LabelEdit::Unchanged;
    const std::string station = row.size() > kStationColumn ? row[kStationColumn] : std::string();
    if (station.empty()) return LabelEdit::Refused;
    return backend.setVolumeLabel(station[0], newText) ? LabelEdit::Renamed : LabelEdit::Refused;
}

} // namespace volumes
