#pragma once
// The physical drive list: every "\\.\PHYSICALDRIVE<n>" the system opens, with geometry and size.

#include "core/fileinfo.h"
#include "core/selection.h"
#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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
    std::optional<platform::DriveIdentity> disk; // which physical disk it is, when the system says

    int32_t sizeMB() const;  // size div 1000000 as a 32-bit signed number
    int32_t sizeMiB() const; // size div 2^20 as a 32-bit signed number
    // The row's texts: caption, ten visible sub-items and the hidden geometry product.
    // decimalSeparator is the user's (the GB column is a fraction).
    selection::Row texts(char decimalSeparator = '.') const;
    // The row as the command line prints it (tableTitles): texts(), then the disk's facts.
    selection::Row tableCells(char decimalSeparator = '.') const;
};

// The visible column titles, in order.
const std::vector<std::string>& columnTitles();
// Title used where the hidden value is printed as a column of its own.
inline constexpr const char* kGeometryTitle = "Geometry (bytes)";
// Every column the command line prints: the window's, the geometry product, the disk's facts.
std::vector<std::string> tableTitles();

// Which disk a drive is, as titled texts in the order of the table's last columns: Device,
// Model (vendor and model), Serial, Bus, Removable and Rotational ("yes"/"no"). Empty texts when
// the system does not say.
std::vector<std::pair<std::string, std::string>>
diskFacts(const std::optional<platform::DriveIdentity>& disk);
// The same facts as lines "Title: text" for a tooltip, without the ones that have no text; empty
// when the system does not say which disk it is.
std::string diskToolTip(const std::optional<platform::DriveIdentity>& disk);
// Model and serial for the window's hint line, or empty when the drive reports neither.
std::string diskHint(const std::optional<platform::DriveIdentity>& disk);
// What `select` shows after the record for a drive or a partition of one: the drive's Device
// node, then the other facts of diskFacts() for the disk the name leads to now. Nothing for a
// volume or a file.
std::vector<std::pair<std::string, std::string>> selectionFacts(platform::Backend& backend,
                                                                const TFileInfo& selection);
// The listed drive that a name ("\\.\PHYSICALDRIVE<n>", as a drive's or a partition's selection
// has it) stands for, while its fingerprint is still the one the row was listed with; null
// otherwise.
const DriveRow* rowOf(const std::vector<DriveRow>& rows, const std::string& name,
                      const std::string& identity);

std::string mediaTypeText(int32_t mediaType);
// (M div 100) / 10 with at most one decimal and no trailing zero: 5001 -> "500.1", 8 -> "0.8".
std::string sizeGBText(int32_t megabytes, char decimalSeparator = '.');

// Opens drive 0, 1, ... up to 99 and stops at the first one that cannot be opened or queried.
std::vector<DriveRow> scan(platform::Backend& backend);

} // namespace drives
