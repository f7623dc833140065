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
        rows.push_back(row);
    }
    return rows;
}

} // namespace drives
