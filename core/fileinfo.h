#pragma once
// The record that describes a selectable item; every tool gets its own copy.

#include "platform/platform.h"

#include <cstdint>
#include <optional>
#include <string>

struct TFileInfo {
    std::string FileName;    // what is opened: "\\.\PHYSICALDRIVE<n>", "\\.\<letter>:" or a path
    std::string Description; // copy source/target label, compared by the Copy button rule
    std::string DefaultName; // short name for proposed file names, titles and messages
    std::string DefaultExt;  // ".raw", ".iso", ".drv" or ".prt"
    int64_t Size = 0;        // bytes in the selected range
    int64_t Offset = 0;      // first byte of the range within FileName
    std::string DisplayText; // shown in the selection label
    int64_t BaseOffset = 0;  // Offset when the item was selected
    int64_t BaseSize = 0;    // Size when the item was selected
    bool CanRead = false;
    bool CanWrite = false;
    std::string DriveText; // drive number, volume root, or file name
    // What FileName led to when the item was selected (platform::RawStream::fingerprint): a later
    // open that finds another device behind the name is refused. Empty when it cannot be told.
    std::string Identity;

    // The selected bytes, or nothing when Offset and Size do not make a valid range (negative, or
    // ending beyond the largest 64-bit position).
    std::optional<platform::ByteRange> range() const { return platform::ByteRange::make(Offset, Size); }

    bool operator==(const TFileInfo&) const = default;
};
