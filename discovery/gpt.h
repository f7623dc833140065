#pragma once
// GUID partition tables: the header at LBA 1 (or its backup at the last LBA) and its entry array,
// each checked by its CRC-32, read from a device whose first table holds a protective entry.
// Sectors here are the device's own logical sectors (512 or 4096 bytes).

#include "platform/platform.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace gpt {

inline constexpr uint8_t kProtectiveType = 0xEE;

struct Entry {
    int number = 0;                 // 1-based position in the entry array
    std::array<uint8_t, 16> type{}; // the type GUID as stored
    uint64_t firstLba = 0;
    uint64_t lastLba = 0; // inclusive
    std::string name;     // UTF-8, from the entry's UTF-16LE name
};

struct Table {
    bool found = false;      // a header with a valid CRC was read (primary or backup)
    bool fromBackup = false; // the primary header was damaged; the backup was used
    int64_t sectorSize = 512;
    std::vector<Entry> entries;     // the used entries, in array order
    std::vector<std::string> notes; // what went wrong, for the hint line
};

// Reads the table of a device of `deviceSize` bytes with logical sectors of `sectorSize` bytes.
Table read(platform::RawStream& device, int64_t sectorSize, int64_t deviceSize);

// "C12A7328-F81F-11D2-BA4B-00A0C93EC93B" (the mixed-endian text form).
std::string guidText(const std::array<uint8_t, 16>& guid);
// The short name of a well-known type GUID ("EFI system", "Linux file system"), or its text.
std::string typeName(const std::array<uint8_t, 16>& guid);

} // namespace gpt
