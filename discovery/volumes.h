#pragma once
// The logical volume list: one row per drive letter with a readable volume, B to Z, and the
// rules for renaming a volume by editing its label in place.

#include "core/selection.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

namespace volumes {

struct VolumeRow {
    char letter = 0;
    std::string label;
    int driveType = 0;
    std::string fileSystem;
    // The volume's length: its block device's, when it has one (a file system's statistics leave
    // out its own metadata, so an image of that many bytes would be cut short); else the file
    // system's total; 0 when both queries failed.
    int64_t totalBytes = 0;
    int64_t freeBytes = 0; // all free bytes, not only those the caller may use
    uint32_t serial = 0;
    uint32_t maxComponentLength = 0;
    std::string identity; // the fingerprint of the volume's device, when it could be opened

    std::string station() const; // "C:\"
    // The row's texts: caption (label), nine visible sub-items and the hidden drive type number.
    selection::Row texts() const;
};

// Columns of the row texts.
inline constexpr size_t kLabelColumn = 0;
inline constexpr size_t kStationColumn = 1;
inline constexpr size_t kDriveTypeNumberColumn = 10;

// The visible column titles, in order.
const std::vector<std::string>& columnTitles();
// Title used where the hidden value is printed as a column of its own.
inline constexpr const char* kDriveTypeNumberTitle = "Drive type (number)";

// "Unknown drive type", "Has no root", "Removable", "Hard disk", "Network", "cdrom/dvd",
// "RAM Disk"; numbers the system never returns read as unknown.
std::string driveTypeText(int driveType);

// The row of one letter, or nullopt when the letter has no readable volume.
std::optional<VolumeRow> query(platform::Backend& backend, char letter);

// Queries the letters from Z down to B (A is never queried) and hands each listed volume to
// onRow as soon as it is known, so a window can insert it at the top and let events run.
// A false answer from onRow ends the scan.
void scan(platform::Backend& backend, const std::function<bool(const VolumeRow&)>& onRow);
// The finished list, B to Z.
std::vector<VolumeRow> list(platform::Backend& backend);

// In-place label editing. A row of the CD/DVD type may not be edited.
bool labelEditAllowed(const selection::Row& row);

enum class LabelEdit {
    Unchanged, // the text equals the caption: nothing asked of the system
    Renamed,   // the label was set: the row keeps the new text
    Refused,   // the system refused: the row gets its old caption back, nothing is reported
};
// Sets the label of the row's volume ("Station") when the text differs from the caption.
LabelEdit commitLabel(platform::Backend& backend, const selection::Row& row, const std::string& newText);

} // namespace volumes
