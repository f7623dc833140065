#pragma once
// Partition table walk: the master boot record at a byte offset of a device, its four slots, and
// the chain of extended partition tables behind it, turned into the rows of the partition list.
// Plain C++; the window shows the rows and the messages in the order they are returned.

#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A partition table sector holds 512 bytes, also on a drive with larger sectors (the rest of
// such a sector is not part of the table).
inline constexpr int64_t kPartitionTableBytes = 512;
// The sector fields of the tables count the drive's logical sectors; an image file, which
// reports none, has sectors of this size.
inline constexpr int64_t kDefaultSectorSize = 512;
inline constexpr int kPartitionSlotOffset = 446; // 0x1BE
inline constexpr int kPartitionSlotSize = 16;
inline constexpr int kPartitionSlotCount = 4;
// A malformed chain ends after this many table sectors, the first one included.
inline constexpr int kMaxPartitionTables = 256;

inline constexpr uint8_t kPartitionTypeExtended = 0x05; // the only link type that is followed

inline constexpr std::string_view kMsgFailedToOpenDevice = "Failed to open device";
inline constexpr std::string_view kMsgFailedToReadMbr = "Failed to read MBR";
inline constexpr std::string_view kMsgNoPartitionTable =
    "MBR does not contain a partition table\n\nThe partition table may be zero or contain random "
    "data\n\nIgnoring... ";

// One 16-byte slot of a partition table sector.
struct PartitionEntry {
    uint8_t bootIndicator = 0; // any non-zero value counts as bootable
    uint8_t startHead = 0;
    uint8_t startSector = 0; // bits 0-5 sector, bits 6-7 are cylinder bits 8-9
    uint8_t startCylinder = 0;
    uint8_t type = 0;
    uint8_t endHead = 0;
    uint8_t endSector = 0;
    uint8_t endCylinder = 0;
    uint32_t firstSector = 0; // relative to the table's sector, or to the extended start for links
    uint32_t sectorCount = 0;

    bool bootable() const { return bootIndicator != 0; }
    bool operator==(const PartitionEntry&) const = default;
};

// Decodes a slot from its bytes (little endian, independent of the host's layout and packing).
PartitionEntry DecodePartitionEntry(std::span<const uint8_t, kPartitionSlotSize> bytes);

struct ChsAddress {
    int cylinder = 0; // 0..1023
    int head = 0;     // 0..255
    int sector = 0;   // 0..63
    bool operator==(const ChsAddress&) const = default;
};

ChsAddress DecodeChs(uint8_t headByte, uint8_t sectorByte, uint8_t cylinderByte);
// "(C<cylinder> H<head> S<sector>)"
std::string FormatChs(const ChsAddress& chs);

// Type names by type byte; types without a name have the empty text. Built on first use: call it
// once at start-up so that nothing is built later.
const std::array<std::string, 256>& PartitionTypeNames();

inline constexpr int kPartitionColumnCount = 12;
inline constexpr std::array<std::string_view, kPartitionColumnCount> kPartitionColumnTitles = {
    "Index",           "Drive",          "boot",         "CHS start",  "Type", "CHS end",
    "start (#sector)", "size (#sector)", "size (bytes)", "size (MiB)", "Kind", "File system"};

// One row of the partition list: the column texts, plus the decoded numbers behind them so that
// selecting a row needs no parsing.
struct PartitionRow {
    std::string index;       // slot 1 to 4 within its table
    std::string drive;       // the drive text given to the walk
    std::string boot;        // "*" or empty
    std::string chsStart;    // "(C%d H%d S%d)"
    std::string type;        // two upper-case hexadecimal digits
    std::string chsEnd;      // "(C%d H%d S%d)"
    std::string startSector; // absolute sector: table offset div sector size + first sector
    std::string sectorCount;
    std::string sizeBytes;
    std::string sizeMiB;
    std::string kind;       // "Primary" for the table read first, else "Extended"
    std::string fileSystem; // type name, possibly empty

    PartitionEntry entry;
    int slot = 0;               // 1 to 4; for a GUID partition, its entry number
    uint64_t absoluteStart = 0; // the "start (#sector)" value
    int64_t tableOffset = 0;    // byte offset of the table sector that holds the slot
    // Where the partition's bytes lie on the drive, in the drive's logical sectors.
    int64_t byteOffset = 0;
    int64_t byteSize = 0;
    // Why no selection may be made from the row (its bytes leave the disk, or its GUID entry ends
    // before it starts); empty when one may. Set by the walk, which knows the disk's size.
    std::string refusal;

    // The texts in column order, as in kPartitionColumnTitles.
    std::array<std::string, kPartitionColumnCount> cells() const;
};

struct PartitionWalkResult {
    std::vector<PartitionRow> rows;
    std::vector<std::string> messages; // shown one after another, in this order
    // Remarks about the list that need no answer (a chain cut short); shown beside the list.
    std::vector<std::string> notes;
    std::string identity; // the fingerprint of the device the table was read from
};

inline constexpr std::string_view kNoteChainCut =
    "The extended partition chain is longer than 256 tables; the partitions after the 256th table are "
    "not listed.";

// Builds the row for a slot of the table at tableOffset, on a drive with logical sectors of
// sectorSize bytes.
PartitionRow MakePartitionRow(const PartitionEntry& entry, int slot, int64_t tableOffset, bool first,
                              const std::string& driveText, int64_t sectorSize = kDefaultSectorSize);

namespace gpt {
struct Entry;
}
// A GUID partition's row: its entry number, kind "GPT", its type's name, sectors of the drive's
// own size, its name in the "File system" column, no CHS values.
PartitionRow MakeGptRow(const gpt::Entry& entry, int64_t sectorSize, const std::string& driveText);

// The device's logical sector size as its geometry reports it, or kDefaultSectorSize when it
// reports none (an image file) or an impossible one.
int64_t LogicalSectorSize(platform::RawStream& device);

// Walks the table at the byte offset of an open device and the extended chain behind it, its
// sector fields counted in the device's logical sectors. The stream is positioned only when the
// offset is not 0: a freshly opened stream is at its start.
// A link is followed when its table lies inside the extended partition (and, when the device's
// length is known, inside the device) and has not been read yet, in whichever direction it
// points: logical partitions created out of order link backwards. At most kMaxPartitionTables
// sectors are read; a chain cut by that bound adds kNoteChainCut to the notes. When the device's
// length is known, a row whose bytes leave the device gets a refusal.
PartitionWalkResult WalkPartitionTable(platform::RawStream& device, const std::string& driveText,
                                       int64_t offset);

// Opens the device for reading, walks its table at the byte offset, and closes it again. A table
// at offset 0 with a protective entry (type EE) is followed by the drive's GUID partition table:
// its partitions are listed after the protective entry's row, and what went wrong reading it,
// and every entry that ends past the disk or before it starts, goes to the notes.
PartitionWalkResult ReadPartitionTable(platform::Backend& backend, const std::string& devicePath,
                                       const std::string& driveText, int64_t offset);
