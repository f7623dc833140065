#include "discovery/gpt.h"

#include "core/byte_order.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <optional>

namespace gpt {
namespace {

// The entry array is read whole; a header that claims more than this is not believed.
constexpr uint64_t kMaxArrayBytes = 64ull << 20;

uint32_t crc(const uint8_t* p, size_t n) {
    uLong c = ::crc32(0L, Z_NULL, 0);
    while (n > 0) {
        const uInt piece = n > (1u << 30) ? (1u << 30) : uInt(n);
        c = ::crc32(c, p, piece);
        p += piece;
        n -= piece;
    }
    return uint32_t(c);
}

// Exactly `count` bytes at `offset`, both as the table gives them (unsigned, 64 bits).
bool readWhole(platform::RawStream& device, uint64_t offset, uint8_t* buffer, uint64_t count) {
    if (offset > uint64_t(INT64_MAX) || count > uint64_t(INT64_MAX)) return false;
    return device.readAt(int64_t(offset), buffer, int64_t(count)).valueOr(-1) == int64_t(count);
}

// UTF-16LE, up to the first NUL, as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string utf8Name(const uint8_t* p, size_t units) {
    std::string out;
    const auto put = [&out](uint32_t c) {
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    };
    for (size_t i = 0; i < units; ++i) {
        const uint32_t u = uint32_t(p[2 * i]) | uint32_t(p[2 * i + 1]) << 8;
        if (u == 0) break;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
            const uint32_t v = uint32_t(p[2 * i + 2]) | uint32_t(p[2 * i + 3]) << 8;
            if (v >= 0xDC00 && v < 0xE000) {
                put(0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
                ++i;
                continue;
            }
        }
        put(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
    return out;
}

struct Header {
    uint64_t entriesLba = 0;
    uint32_t count = 0;
    uint32_t entrySize = 0;
    uint32_t arrayCrc = 0;
};

// The header at `lba`, checked; nothing (and why, in `why`) when it is not a valid one.
std::optional<Header> readHeader(platform::RawStream& device, int64_t sectorSize, uint64_t lba,
                                 std::string& why) {
    std::vector<uint8_t> sector(static_cast<size_t>(sectorSize));
    if (!readWhole(device, lba * uint64_t(sectorSize), sector.data(), sector.size())) {
        why = "its header cannot be read";
        return std::nullopt;
    }
    if (std::memcmp(sector.data(), "EFI PART", 8) != 0) {
        why = "its header has no signature";
        return std::nullopt;
    }
    const uint32_t headerSize = le::get32(sector.data() + 12);
    if (headerSize < 92 || headerSize > uint32_t(sectorSize)) {
        why = "its header has an impossible size";
        return std::nullopt;
    }
    const uint32_t stored = le::get32(sector.data() + 16);
    std::memset(sector.data() + 16, 0, 4);
    if (crc(sector.data(), headerSize) != stored) {
        why = "its header's checksum does not match";
        return std::nullopt;
    }
    if (le::get64(sector.data() + 24) != lba) {
        why = "its header does not say where it lies";
        return std::nullopt;
    }
    Header h;
    h.entriesLba = le::get64(sector.data() + 72);
    h.count = le::get32(sector.data() + 80);
    h.entrySize = le::get32(sector.data() + 84);
    h.arrayCrc = le::get32(sector.data() + 88);
    if (h.entrySize < 128 || h.entrySize % 8 != 0) {
        why = "its entries have an impossible size";
        return std::nullopt;
    }
    return h;
}

// The used entries of the array a header describes; nothing (and why) when the array is damaged.
std::optional<std::vector<Entry>> readEntries(platform::RawStream& device, int64_t sectorSize,
                                              int64_t deviceSize, const Header& h, std::string& why) {
    const uint64_t bytes = uint64_t(h.count) * h.entrySize;
    const uint64_t start = h.entriesLba * uint64_t(sectorSize);
    if (bytes > kMaxArrayBytes || h.entriesLba > uint64_t(INT64_MAX) / uint64_t(sectorSize) ||
        start + bytes > uint64_t(deviceSize)) {
        why = "its entry array does not fit on the disk";
        return std::nullopt;
    }
    std::vector<uint8_t> array(static_cast<size_t>(bytes));
    if (bytes > 0 && !readWhole(device, start, array.data(), bytes)) {
        why = "its entry array cannot be read";
        return std::nullopt;
    }
    if (crc(array.data(), array.size()) != h.arrayCrc) {
        why = "its entry array's checksum does not match";
        return std::nullopt;
    }
    std::vector<Entry> entries;
    for (uint32_t i = 0; i < h.count; ++i) {
        const uint8_t* e = array.data() + size_t(i) * h.entrySize;
        Entry entry;
        std::memcpy(entry.type.data(), e, 16);
        if (entry.type == std::array<uint8_t, 16>{}) continue; // an unused entry
        entry.number = int(i) + 1;
        entry.firstLba = le::get64(e + 32);
        entry.lastLba = le::get64(e + 40);
        entry.name = utf8Name(e + 56, 36);
        entries.push_back(std::move(entry));
    }
    return entries;
}

struct Known {
    const char* guid;
    const char* name;
};

const Known kKnownTypes[] = {
    {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system"},
    {"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    {"024DEE41-33E7-11D3-9D69-0008C781F39F", "MBR partition scheme"},
    {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"},
    {"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "Windows LDM metadata"},
    {"AF9B60A0-1431-4F62-BC68-3311714A69AD", "Windows LDM data"},
    {"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux file system"},
    {"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    {"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    {"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
    {"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home"},
    {"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux root (x86-64)"},
    {"44479540-F297-41B2-9AF7-D131D5F0458A", "Linux root (x86)"},
    {"B921B045-1DF0-41C3-AF44-4C6F280D3FAE", "Linux root (ARM64)"},
    {"BC13C2FF-59E6-4262-A352-B275FD6F7172", "Linux extended boot"},
    {"3B8F8425-20E0-4F3B-907F-1A25A76F98E8", "Linux server data"},
    {"CA7D7CCB-63ED-4C53-861C-1742536059CC", "Linux LUKS"},
    {"8DA63339-0007-60C0-C436-083AC8230908", "Linux reserved"},
    {"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS+"},
    {"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
    {"426F6F74-0000-11AA-AA11-00306543ECAC", "Apple boot"},
    {"516E7CB4-6ECF-11D6-8FF8-00022D09712B", "FreeBSD data"},
    {"83BD6B9D-7F41-11DC-BE0B-001560B84F0F", "FreeBSD boot"},
    {"516E7CB5-6ECF-11D6-8FF8-00022D09712B", "FreeBSD swap"},
    {"516E7CB6-6ECF-11D6-8FF8-00022D09712B", "FreeBSD UFS"},
    {"516E7CBA-6ECF-11D6-8FF8-00022D09712B", "FreeBSD ZFS"},
    {"6A898CC3-1DD2-11B2-99A6-080020736631", "ZFS"},
    {"E75CAF8F-F680-4CEE-AFA3-B001E56EFC2D", "Storage Spaces"},
};

} // namespace

std::string guidText(const std::array<uint8_t, 16>& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  g[3], g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return text;
}

std::string typeName(const std::array<uint8_t, 16>& guid) {
    const std::string text = guidText(guid);
    for (const auto& k : kKnownTypes)
        if (text == k.guid) return k.name;
    return text;
}

Table read(platform::RawStream& device, int64_t sectorSize, int64_t deviceSize) {
    Table table;
    table.sectorSize = sectorSize;
    if (sectorSize < 512 || deviceSize < 3 * sectorSize) {
        table.notes.emplace_back(
            "The disk holds a protective entry but is too small for a GUID partition table.");
        return table;
    }
    std::string whyPrimary, whyBackup;
    if (auto h = readHeader(device, sectorSize, 1, whyPrimary)) {
        if (auto entries = readEntries(device, sectorSize, deviceSize, *h, whyPrimary)) {
            table.found = true;
            table.entries = std::move(*entries);
            return table;
        }
    }
    const uint64_t lastLba = uint64_t(deviceSize / sectorSize) - 1;
    if (auto h = readHeader(device, sectorSize, lastLba, whyBackup)) {
        if (auto entries = readEntries(device, sectorSize, deviceSize, *h, whyBackup)) {
            table.found = true;
            table.fromBackup = true;
            table.entries = std::move(*entries);
            table.notes.emplace_back("The primary GUID partition table is damaged (" + whyPrimary +
                                     "); the partitions were read from its backup at the end of the disk.");
            return table;
        }
    }
    table.notes.emplace_back("No GUID partition is listed: the table's primary copy is unusable (" +
                             whyPrimary + ") and so is its backup (" + whyBackup + ").");
    return table;
}

} // namespace gpt
