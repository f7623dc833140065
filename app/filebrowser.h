#pragma once
// The file browser's engine: folder listings as tree entries, and the selection a clicked file
// becomes. The window (TfrmSelectFile) only turns entries into tree nodes.
//
// On Linux a volume's files are under its mount point, so a browser opened on "C:\" lists the
// folder the backend gives as C:'s root ("/"), and every path it shows and selects is an ordinary
// path there. A folder's path ends with "/".

#include "core/fileinfo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace platform {
class Backend;
}

// Attribute bits of a directory entry, as the system's directory search reports them.
inline constexpr uint32_t faReadOnly = 0x01;
inline constexpr uint32_t faHidden = 0x02;  // a name starting with "."
inline constexpr uint32_t faSysFile = 0x04; // a FIFO, socket or device node
inline constexpr uint32_t faVolumeID = 0x08;
inline constexpr uint32_t faDirectory = 0x10;
inline constexpr uint32_t faArchive = 0x20; // an ordinary file
// The root node's attributes: every bit set, so the root counts as a folder.
inline constexpr uint32_t kRootAttributes = 0xFFFFFF;

// One entry of a directory listing.
struct TSearchRec {
    std::string Name;
    uint32_t Attr = 0;
    int64_t Size = 0;     // 64-bit: files over 4 GiB keep their size
    int64_t Time = 0;     // modification time, seconds since 1970
    bool special = false; // a FIFO or socket: opening it for reading could wait forever
};

// What each tree node carries: its full path and the entry it was listed from.
struct TFileData {
    std::string Path;
    TSearchRec Rec;
    bool isFolder() const { return (Rec.Attr & faDirectory) != 0; }
};

namespace filebrowser {

inline constexpr const char* kCaption = "Select a file";
inline constexpr const char* kHint = "Hint: Select  file and right-click to perform immediate actions.";
inline constexpr const char* kPlaceholder = "..";
inline constexpr const char* kSelectionCaptionPrefix = "Selection: ";

// The folder a browser opened on `root` lists: for a drive root ("C:\" or "C:") the backend's
// root folder of that letter, otherwise the path itself; always ending with "/". A letter without
// a root stays as it is (and lists nothing).
std::string resolveRoot(platform::Backend& backend, const std::string& root);

// The root node's data: the root path and kRootAttributes.
TFileData rootData(const std::string& rootPath);

// A folder's entries in name order, without "." and "..": path = folder path + name, with "/"
// appended for folders. A folder that cannot be listed has no entries; nothing is reported.
std::vector<TFileData> listFolder(const TFileData& folder);

// The selection a click on a node makes (only files become the Selection).
TFileInfo fileInfoFor(const TFileData& node, const std::string& nodeText);

} // namespace filebrowser
