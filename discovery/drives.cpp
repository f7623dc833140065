#include "discovery/drives.h"

#include "platform/platform.h"

namespace drives {

int32_t DriveRow::sizeMB() const {
    return static_cast<int32_t>(size / 1000000);
}
int32_t DriveRow::sizeMiB() const {
    return static_cast<int32_t>(size / 1048576);
}

selection::Row DriveRow::texts(char decimalSeparator) const {
    return {
        std::to_string(index),
        mediaTypeText(mediaType),
        std::to_string(cylinders),
        std::to_string(tracksPerCylinder),
        std::to_string(sectorsPerTrack),
        std::to_string(bytesPerSector),
        sizeGBText(sizeMB(), decimalSeparator),
        std::to_string(sizeMB()),
        std::to_string(sizeMiB()),
        std::to_string(size),
        std::to_string(lengthInfo),
        std::to_string(geometrySize),
    };
}

selection::Row DriveRow::tableCells(char decimalSeparator) const {
    selection::Row cells = texts(decimalSeparator);
    for (auto& fact : diskFacts(disk))
        cells.push_back(std::move(fact.second));
    return cells;
}

std::vector<std::string> tableTitles() {
    std::vector<std::string> titles = columnTitles();
    titles.push_back(kGeometryTitle);
    for (const auto& fact : diskFacts(std::nullopt))
        titles.push_back(fact.first);
    return titles;
}

std::vector<std::pair<std::string, std::string>>
diskFacts(const std::optional<platform::DriveIdentity>& disk) {
    const auto yesNo = [&](bool value) { return disk ? std::string(value ? "yes" : "no") : std::string(); };
    const platform::DriveIdentity d = disk.value_or(platform::DriveIdentity{});
    return {{"Device", d.node},
            {"Model", d.product()},
            {"Serial", d.serial},
            {"Bus", d.bus},
            {"Removable", yesNo(d.removable)},
            {"Rotational", yesNo(d.rotational)}};
}

std::string diskToolTip(const std::optional<platform::DriveIdentity>& disk) {
    if (!disk) return {};
    std::string text;
    for (const auto& [title, value] : diskFacts(disk))
        if (!value.empty()) text += (text.empty() ? "" : "\n") + title + ": " + value;
    return text;
}

std::string diskHint(const std::optional<platform::DriveIdentity>& disk) {
    if (!disk) return {};
    std::string text;
    if (const std::string model = disk->product(); !model.empty()) text = "Model: " + model;
    if (!disk->serial.empty()) text += (text.empty() ? "" : "  ") + std::string("Serial: ") + disk->serial;
    return text;
}

std::vector<std::pair<std::string, std::string>> selectionFacts(platform::Backend& backend,
                                                                const TFileInfo& selection) {
    std::vector<std::pair<std::string, std::string>> facts;
    const auto drive = platform::parsePhysicalDriveName(selection.FileName);
    if (!drive) return facts;
    const std::string node = backend.physicalDriveNode(*drive);
    if (!node.empty()) facts.emplace_back("Device", node);
    if (const auto disk = backend.driveIdentity(selection.FileName))
        for (auto& fact : diskFacts(disk))
            if (fact.first != "Device") facts.push_back(std::move(fact));
    return facts;
}

const DriveRow* rowOf(const std::vector<DriveRow>& rows, const std::string& name,
                      const std::string& identity) {
    const auto index = platform::parsePhysicalDriveName(name);
    if (!index) return nullptr;
    for (const auto& row : rows)
        if (row.index == *index) return row.identity == identity ? &row : nullptr;
    return nullptr;
}

const std::vector<std::string>& columnTitles() {
    static const std::vector<std::string> titles{
        "Index",     "Media type", "Cylinders",  "Tracks per cylinder", "Sectors per track", "Sector size",
        "Size (GB)", "Size (MB)",  "Size (MiB)", "Size (bytes)",        "CHS Size (bytes)",
    };
    return titles;
}

std::string mediaTypeText(int32_t mediaType) {
    if (mediaType == 0) return "Unknown";
    if (mediaType >= 1 && mediaType <= 10) return "Floppy";
    if (mediaType == 11) return "Removable";
    if (mediaType == 12) return "Fixed";
    if (mediaType >= 13 && mediaType <= 25) return "Zip";
    return "Undefined";
}

std::string sizeGBText(int32_t megabytes, char decimalSeparator) {
    const int32_t tenths = megabytes / 100;
    std::string text = std::to_string(tenths / 10);
    if (tenths < 0 && tenths / 10 == 0) text = "-0";
    const int32_t fraction = tenths % 10;
    if (fraction != 0) text += decimalSeparator + std::to_string(fraction < 0 ? -fraction : fraction);
    return text;
}

std::vector<DriveRow> scan(platform::Backend& backend) {
    std::vector<DriveRow> rows;
    for (int n = 0; n < 100; ++n) {
        auto stream = backend.open(platform::physicalDriveName(n), platform::OpenMode::Read);
        if (!stream) break; // a gap in the numbering hides every later drive
        DriveRow row;
        row.index = n;
        // The plain geometry is taken as it comes; a failed query leaves it zero.
        const platform::DiskGeometry g = (*stream)->geometry().valueOr(platform::DiskGeometry{});
        row.mediaType = g.mediaType;
        row.cylinders = g.cylinders;
        row.tracksPerCylinder = g.tracksPerCylinder;
        row.sectorsPerTrack = g.sectorsPerTrack;
        row.bytesPerSector = g.bytesPerSector;
        row.geometrySize = g.product();
        auto ex = (*stream)->geometryEx();
        row.size = ex ? ex->diskSize : row.geometrySize;
        row.lengthInfo = (*stream)->lengthInfo().valueOr(-1);
        row.identity = (*stream)->fingerprint();
        row.disk = (*stream)->driveIdentity();
        rows.push_back(row);
    }
    return rows;
}

} // namespace drives
