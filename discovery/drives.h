#pragma once
// The physical drive list: every "\\.\PHYSICALDRIVE<n>" the system opens, with geometry and size.

#include "core/selection.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace drives {

struct DriveRow {
    int index = 0;
    int32_t mediaType = 0;
    int64_t cylinders = 0;
    uint32_t tracksPerCylinder = 0;
    uint32_t sectorsPerTrack = 0;
    uint32_t bytesPerSector = 0;
    int64_t size = 0;         // extended geometry's disk size, else the geometry product
    int64_t lengthInfo = -1;  // the length query's answer, -1 when it failed
    int64_t geometrySize = 0; // cylinders x tracks x sectors x bytes
    std::string identity;     // the device's fingerprint, for the selection made from this row

    int32_t sizeMB() const;  // size div 1000000 as a 32-bit signed number
    int32_t sizeMiB() const; // size div 2^20 as a 32-bit signed number
    // The row's texts: caption, ten visible sub-items and the hidden geometry product.
    // decimalSeparator is the user's (the GB column is a fraction).
    selection::Row texts(char decimalSeparator = '.') const;
};

// The visible column titles, in order.
const std::vector<std::string>& columnTitles();
// Title used where the hidden value is printed as a column of its own.
inline constexpr const char* kGeometryTitle = "Geometry (bytes)";

std::string mediaTypeText(int32_t mediaType);
// (M div 100) / 10 with at most one decimal and no trailing zero: 5001 -> "500.1", 8 -> "0.8".
std::string sizeGBText(int32_t megabytes, char decimalSeparator = '.');

// Opens drive 0, 1, ... up to 99 and stops at the first one that cannot be opened or queried.
std::vector<DriveRow> scan(platform::Backend& backend);

} // namespace drives
