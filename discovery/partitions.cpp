#include "discovery/partitions.h"

#include "core/byte_order.h"
#include "discovery/gpt.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <optional>
#include <set>

namespace {

struct TableSector {
    std::array<PartitionEntry, kPartitionSlotCount> slots;
    bool hasSignature = false; // 0x55 0xAA at the end
};

class Walker {
public:
    Walker(platform::RawStream& device, const std::string& driveText, PartitionWalkResult& out)
        : device_(device), driveText_(driveText), out_(out), sectorSize_(LogicalSectorSize(device)) {
        // Without a length the read-once rule and the table budget still end every chain.
        if (auto length = device_.length(); length && *length >= 0) length_ = *length;
    }

    void walk(bool first, int64_t tableOffset, int64_t extendedStart) {
        ++tablesRead_;
        visited_.insert(tableOffset);
        const auto table = readTable(tableOffset);
        if (!table) {
            if (first) out_.messages.emplace_back(kMsgFailedToReadMbr);
            return;
        }
        if (!table->hasSignature) {
            if (!first) return;
            out_.messages.emplace_back(kMsgNoPartitionTable);
        }
        for (int i = 0; i < kPartitionSlotCount; ++i) {
            const PartitionEntry& e = table->slots[size_t(i)];
            const bool listed =
                (first || e.type != kPartitionTypeExtended) && (e.firstSector != 0 || e.sectorCount != 0);
            if (listed)
                out_.rows.push_back(MakePartitionRow(e, i + 1, tableOffset, first, driveText_, sectorSize_));

            if (e.type != kPartitionTypeExtended || e.firstSector == 0) continue;
            // The master boot record's extended entry fixes the extended start; links further down
            // the chain count from it.
            const int64_t base = first ? tableOffset : extendedStart;
            const auto next = offsetFrom(base, e.firstSector);
            if (!next) continue;
            if (first) {
                extendedStart_ = *next;
                extendedEnd_ = offsetFrom(*next, e.sectorCount);
            }
            if (!mayFollow(first, *next)) continue;
            // Right away, so that the logical partitions follow their extended entry's row.
            walk(false, *next, first ? *next : extendedStart);
        }
    }

private:
    // The four slots, or nothing when the sector cannot be read whole.
    std::optional<TableSector> readTable(int64_t tableOffset) {
        if (tableOffset < 0) return std::nullopt;
        if (tableOffset != 0) {
            if (!device_.seek(tableOffset, platform::SeekOrigin::Begin)) return std::nullopt;
        }
        std::array<uint8_t, kPartitionTableBytes> sector{};
        const auto n = device_.read(sector.data(), kPartitionTableBytes);
        if (!n || *n != kPartitionTableBytes) return std::nullopt;

        TableSector table;
        for (int i = 0; i < kPartitionSlotCount; ++i)
            table.slots[size_t(i)] = DecodePartitionEntry(std::span<const uint8_t, kPartitionSlotSize>(
                sector.data() + kPartitionSlotOffset + i * kPartitionSlotSize, kPartitionSlotSize));
        table.hasSignature = sector[510] == 0x55 && sector[511] == 0xAA;
        return table;
    }

    // Links count in the drive's logical sectors, as partitions do.
    std::optional<int64_t> offsetFrom(int64_t base, uint32_t sectors) const {
        const int64_t delta = int64_t(sectors) * sectorSize_;
        if (base > std::numeric_limits<int64_t>::max() - delta) return std::nullopt;
        return base + delta;
    }

    // A link may point either way (tables of logical partitions made out of order link
    // backwards), but only to a table not read yet, inside the extended partition and the device,
    // and within the table budget: so no chain can make the walk go round.
    bool mayFollow(bool fromFirst, int64_t next) {
        if (visited_.count(next)) return false;
        if (length_ && (*length_ < kPartitionTableBytes || next > *length_ - kPartitionTableBytes))
            return false;
        // An extended entry without a size bounds nothing: its chain stays inside the device.
        if (!fromFirst && extendedEnd_ && *extendedEnd_ > extendedStart_ &&
            (next < extendedStart_ || next > *extendedEnd_ - kPartitionTableBytes))
            return false;
        if (tablesRead_ >= kMaxPartitionTables) {
            if (!cutNoted_) out_.notes.emplace_back(kNoteChainCut);
            cutNoted_ = true;
            return false;
        }
        return true;
    }

    platform::RawStream& device_;
    const std::string& driveText_;
    PartitionWalkResult& out_;
    std::optional<int64_t> length_;
    const int64_t sectorSize_;
    int tablesRead_ = 0;
    std::set<int64_t> visited_;
    int64_t extendedStart_ = 0;
    std::optional<int64_t> extendedEnd_; // the end of the extended partition the chain lives in
    bool cutNoted_ = false;
};

// "The partition at sector 2048 of drive 0 cannot be selected: "
std::string refusalStart(const PartitionRow& row) {
    return "The partition at sector " + row.startSector + " of drive " + row.drive + " cannot be selected: ";
}

// Rows whose bytes leave a device of `length` bytes are refused: no selection may reach past the
// disk.
void refuseRowsOffDisk(std::vector<PartitionRow>::iterator begin, std::vector<PartitionRow>::iterator end,
                       int64_t length) {
    for (auto row = begin; row != end; ++row) {
        if (!row->refusal.empty()) continue;
        if (row->byteOffset > length || row->byteSize > length - row->byteOffset)
            row->refusal = refusalStart(*row) + "it ends past the end of the disk, which has " +
                           std::to_string(length) + " bytes.";
    }
}

} // namespace

int64_t LogicalSectorSize(platform::RawStream& device) {
    const auto g = device.geometryEx();
    if (!g) return kDefaultSectorSize;
    const int64_t size = g->geometry.bytesPerSector;
    const bool powerOfTwo = (size & (size - 1)) == 0;
    return size >= 512 && size <= 65536 && powerOfTwo ? size : kDefaultSectorSize;
}

PartitionEntry DecodePartitionEntry(std::span<const uint8_t, kPartitionSlotSize> b) {
    PartitionEntry e;
    e.bootIndicator = b[0];
    e.startHead = b[1];
    e.startSector = b[2];
    e.startCylinder = b[3];
    e.type = b[4];
    e.endHead = b[5];
    e.endSector = b[6];
    e.endCylinder = b[7];
    e.firstSector = le::get32(b.data() + 8);
    e.sectorCount = le::get32(b.data() + 12);
    return e;
}

ChsAddress DecodeChs(uint8_t headByte, uint8_t sectorByte, uint8_t cylinderByte) {
    return ChsAddress{(int(sectorByte & 0xC0) << 2) | int(cylinderByte), int(headByte),
                      int(sectorByte & 0x3F)};
}

std::string FormatChs(const ChsAddress& chs) {
    char text[48];
    std::snprintf(text, sizeof text, "(C%d H%d S%d)", chs.cylinder, chs.head, chs.sector);
    return text;
}

const std::array<std::string, 256>& PartitionTypeNames() {
    static const std::array<std::string, 256> names = [] {
        std::array<std::string, 256> n;
        n[0x00] = "Empty";
        n[0x01] = "FAT12";
        n[0x04] = "FAT16 (<32M)";
        n[0x05] = "Extended";
        n[0x06] = "FAT16 (> 32M)";
        n[0x07] = "IFS (NTFS / HPFS)";
        n[0x08] = "AIX boot partition / DELL spanning";
        n[0x09] = "AIX data partition";
        n[0x0A] = "OS/2 Boot Manager";
        n[0x0B] = "FAT32";
        n[0x0C] = "FAT32 LBA";
        n[0x0E] = "FAT16 LBA";
        n[0x0F] = "Extended (LBA)";
        n[0x11] = "Hidden FT12";
        n[0x12] = "Configuration/diagnostics";
        n[0x14] = "Hidden FAT16 <32M";
        n[0x16] = "Hidden FAT16 >=32M";
        n[0x17] = "Hidden IFS (HPFS / NTFS)";
        n[0x82] = "Linux swap / Solaris x86";
        n[0x83] = "Linux native";
        n[0x84] = "Hibernation partition";
        n[0x85] = "Linux extended";
        n[0x86] = "FAT16 volume set /Linux RAID superblock";
        n[0x87] = "NTFS volume set";
        return n;
    }();
    return names;
}

std::array<std::string, kPartitionColumnCount> PartitionRow::cells() const {
    return {index,       drive,       boot,      chsStart, type, chsEnd,
            startSector, sectorCount, sizeBytes, sizeMiB,  kind, fileSystem};
}

PartitionRow MakePartitionRow(const PartitionEntry& entry, int slot, int64_t tableOffset, bool first,
                              const std::string& driveText, int64_t sectorSize) {
    PartitionRow row;
    row.entry = entry;
    row.slot = slot;
    row.tableOffset = tableOffset;
    // 64-bit on purpose: a chained table far out plus a large first sector passes 2^32.
    row.absoluteStart = uint64_t(tableOffset / sectorSize) + entry.firstSector;
    const uint64_t bytes = uint64_t(entry.sectorCount) * uint64_t(sectorSize);

    char type[4];
    std::snprintf(type, sizeof type, "%02X", unsigned(entry.type));

    row.index = std::to_string(slot);
    row.drive = driveText;
    row.boot = entry.bootable() ? "*" : "";
    row.chsStart = FormatChs(DecodeChs(entry.startHead, entry.startSector, entry.startCylinder));
    row.type = type;
    row.chsEnd = FormatChs(DecodeChs(entry.endHead, entry.endSector, entry.endCylinder));
    row.startSector = std::to_string(row.absoluteStart);
    row.sectorCount = std::to_string(entry.sectorCount);
    row.sizeBytes = std::to_string(bytes);
    row.sizeMiB = std::to_string(bytes / (1024 * 1024));
    row.kind = first ? "Primary" : "Extended";
    row.fileSystem = PartitionTypeNames()[entry.type];
    // A start that does not fit in 64 bits as bytes cannot be a place on any drive.
    row.byteOffset = row.absoluteStart > uint64_t(INT64_MAX / sectorSize)
                         ? INT64_MAX
                         : int64_t(row.absoluteStart) * sectorSize;
    row.byteSize = int64_t(bytes);
    return row;
}

PartitionRow MakeGptRow(const gpt::Entry& entry, int64_t sectorSize, const std::string& driveText) {
    PartitionRow row;
    row.slot = entry.number;
    row.absoluteStart = entry.firstLba;
    const uint64_t sectors = entry.lastLba >= entry.firstLba ? entry.lastLba - entry.firstLba + 1 : 0;
    const uint64_t limit = uint64_t(INT64_MAX) / uint64_t(sectorSize);
    row.byteOffset = entry.firstLba > limit ? INT64_MAX : int64_t(entry.firstLba) * sectorSize;
    row.byteSize = sectors > limit ? INT64_MAX : int64_t(sectors) * sectorSize;
    row.index = std::to_string(entry.number);
    row.drive = driveText;
    row.type = gpt::typeName(entry.type);
    row.startSector = std::to_string(entry.firstLba);
    row.sectorCount = std::to_string(sectors);
    row.sizeBytes = std::to_string(row.byteSize);
    row.sizeMiB = std::to_string(row.byteSize / (1024 * 1024));
    row.kind = "GPT";
    row.fileSystem = entry.name;
    if (entry.lastLba < entry.firstLba)
        row.refusal = refusalStart(row) + "its entry ends at sector " + std::to_string(entry.lastLba) +
                      ", before it starts.";
    return row;
}

static void AddGptRows(platform::RawStream& device, const std::string& driveText,
                       PartitionWalkResult& result) {
    auto protective = std::find_if(result.rows.begin(), result.rows.end(), [](const PartitionRow& r) {
        return r.kind == "Primary" && r.entry.type == gpt::kProtectiveType;
    });
    if (protective == result.rows.end()) return;
    const int64_t length = device.length().valueOr(-1);
    if (length <= 0) return;
    // The drive's own sector size; an image file has none, so both sizes a disk may have are tried.
    std::vector<int64_t> sizes;
    if (auto g = device.geometryEx(); g && g->geometry.bytesPerSector >= 512)
        sizes.push_back(g->geometry.bytesPerSector);
    else
        sizes = {512, 4096};
    gpt::Table table;
    for (const int64_t size : sizes) {
        table = gpt::read(device, size, length);
        if (table.found) break;
    }
    result.notes.insert(result.notes.end(), table.notes.begin(), table.notes.end());
    // Entries are listed as recorded; the ones no disk can hold are named in the notes.
    const uint64_t diskSectors = uint64_t(length / table.sectorSize);
    std::vector<PartitionRow> rows;
    for (const auto& entry : table.entries) {
        const std::string partition = "GUID partition " + std::to_string(entry.number);
        if (entry.lastLba < entry.firstLba)
            result.notes.push_back(partition + " ends before it starts: its last sector, " +
                                   std::to_string(entry.lastLba) + ", lies below its first, " +
                                   std::to_string(entry.firstLba) + ".");
        else if (entry.lastLba >= diskSectors)
            result.notes.push_back(partition + " ends past the end of the disk: its last sector is " +
                                   std::to_string(entry.lastLba) + ", the disk's last is " +
                                   std::to_string(diskSectors - 1) + ".");
        rows.push_back(MakeGptRow(entry, table.sectorSize, driveText));
    }
    refuseRowsOffDisk(rows.begin(), rows.end(), length);
    result.rows.insert(protective + 1, rows.begin(), rows.end());
}

PartitionWalkResult WalkPartitionTable(platform::RawStream& device, const std::string& driveText,
                                       int64_t offset) {
    PartitionWalkResult result;
    Walker(device, driveText, result).walk(true, offset, offset);
    if (const auto length = device.length(); length && *length >= 0)
        refuseRowsOffDisk(result.rows.begin(), result.rows.end(), *length);
    return result;
}

PartitionWalkResult ReadPartitionTable(platform::Backend& backend, const std::string& devicePath,
                                       const std::string& driveText, int64_t offset) {
    auto device = backend.open(devicePath, platform::OpenMode::Read);
    if (!device) {
        PartitionWalkResult result;
        result.messages.emplace_back(kMsgFailedToOpenDevice);
        return result;
    }
    // The device closes when the stream goes out of scope, on every path.
    PartitionWalkResult result = WalkPartitionTable(**device, driveText, offset);
    result.identity = (*device)->fingerprint();
    if (offset == 0) AddGptRows(**device, driveText, result);
    return result;
}
