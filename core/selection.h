#pragma once
// How list rows, picked files, the offset/size edits and the adjust actions set the selection.
// The main window and the command line both build their TFileInfo records here.

#include "core/fileinfo.h"
#include "platform/platform.h"

#include <memory>
#include <string>
#include <vector>

namespace selection {

// A list row as its texts: the caption first, then the sub-items.
using Row = std::vector<std::string>;

// A column's text read as a 64-bit number; text that is not a number reads as 0.
int64_t columnNumber(const Row& row, size_t column);

// A whole file (or device node) picked by path. Opens it for reading to learn its size; the
// failure is a UserError "Cannot open file "<path>". <system text>". A named pipe or socket is
// refused without being opened: opening one waits for a writer, and its bytes can be read once.
TFileInfo fromFile(platform::Backend& backend, const TFileInfo& previous, const std::string& path);

// Opens what a selection names and makes sure it is still what was selected. A name that now
// leads elsewhere (a drive number after a lower drive went away, a stick swapped for another, a
// file replaced) gives `changed` and no stream.
struct OpenedSelection {
    std::unique_ptr<platform::RawStream> stream; // null when the open failed or the device changed
    platform::Error error;                       // why the open failed
    bool changed = false;
};
// direct: a block device is opened for direct I/O (platform::Backend::openDirect).
[[nodiscard]] OpenedSelection openSelection(platform::Backend& backend, const TFileInfo& info,
                                            platform::OpenMode mode, bool direct = false);
// Tells the user that the selection's device changed since it was selected.
std::string changedDeviceMessage(const TFileInfo& info);

// DisplayText + " offset: " + Offset + " size: " + Size, the description of a narrowed range.
std::string rangeDescription(const TFileInfo& info);

// The offset/size edit text as a number; hexadecimal when asHex. Anything else is a UserError
// "'<text>' is not a valid integer value".
int64_t parseInteger(const std::string& text, bool asHex);
// The edit text for a number: decimal, or upper-case hexadecimal of at least 8 digits.
std::string formatNumber(int64_t value, bool asHex);
// The offset edit's key filter: backspace, Enter and digits; hex digits too when asHex.
bool offsetKeyAllowed(char32_t key, bool asHex);

enum class AdjustAction { None = -1, Skip512, BootRecord, MbrCode, PartitionTable, Undo };
// The adjust list's texts, in AdjustAction order.
const std::vector<std::string>& adjustActionTexts();
inline constexpr const char* kNoActionSelected = "No action selected";
// Sets Offset and Size from BaseOffset/BaseSize and rebuilds Description. False (and nothing
// changed) for AdjustAction::None.
bool applyAdjust(TFileInfo& info, AdjustAction action);

// The Copy button may start a copy: a non-empty source of the target's size, and two items
// with different descriptions.
bool copyEnabled(const TFileInfo& source, const TFileInfo& target);

// Which selection commands are usable for an item.
struct MenuState {
    bool selectionMenu = false; // the Selection menu, and every mirrored popup item
    bool saveAsZip = false;     // "Save as zip (2GB max)"
    bool loadItems = false;     // the three load items
};
MenuState menuState(const TFileInfo& info);

inline constexpr const char* kStopQuestion =
    "Stopping may lead to corrupted results. Are you sure you want to stop?";

} // namespace selection
