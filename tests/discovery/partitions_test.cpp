#include "core/user_error.h"
#include "discovery/partitions.h"
#include "discovery/selections.h"
#include "support/fixtures.h"
#include "support/memory_stream.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using fixtures::writeFile;
using platform::testkit::Faults;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

const std::string kDrive0 = "\\\\.\\PHYSICALDRIVE0";

PartitionEntry part(uint8_t type, uint32_t first, uint32_t count, uint8_t boot = 0) {
    PartitionEntry e;
    e.bootIndicator = boot;
    e.type = type;
    e.firstSector = first;
    e.sectorCount = count;
    return e;
}

// A disk image in memory, written sector by sector the way a partitioning tool lays it out; its
// tables count sectors of `sectorSize` bytes.
class Disk {
public:
    explicit Disk(int64_t sectors, int64_t sectorSize = 512)
        : bytes(size_t(sectors * sectorSize), 0), sectorSize(sectorSize) {}

    void put(int64_t sector, int slot, const PartitionEntry& e) {
        uint8_t* p = &bytes.at(size_t(sector * sectorSize + 446 + (slot - 1) * 16));
        const uint8_t head[8] = {e.bootIndicator, e.startHead, e.startSector, e.startCylinder,
                                 e.type,          e.endHead,   e.endSector,   e.endCylinder};
        std::copy(head, head + 8, p);
        for (int i = 0; i < 4; ++i) {
            p[8 + i] = uint8_t(e.firstSector >> (8 * i));
            p[12 + i] = uint8_t(e.sectorCount >> (8 * i));
        }
    }
    void sign(int64_t sector) {
        bytes.at(size_t(sector * sectorSize + 510)) = 0x55;
        bytes.at(size_t(sector * sectorSize + 511)) = 0xAA;
    }
    // A signed table with the given slots (slot 1 first).
    void table(int64_t sector, std::initializer_list<PartitionEntry> slots) {
        int slot = 1;
        for (const auto& e : slots)
            put(sector, slot++, e);
        sign(sector);
    }

    // An extended partition at extStart holding `count` logical partitions: table k sits at
    // extStart + k * spacing, its partition starts 1 sector later, and its link (slot 2) counts
    // from extStart. Returns the absolute start of every logical partition.
    std::vector<uint64_t> chain(int64_t extStart, int count, uint32_t spacing, uint8_t type = 0x83) {
        std::vector<uint64_t> starts;
        for (int k = 0; k < count; ++k) {
            const int64_t at = extStart + int64_t(k) * spacing;
            put(at, 1, part(type, 1, spacing - 1));
            if (k + 1 < count) put(at, 2, part(0x05, uint32_t(k + 1) * spacing, spacing));
            sign(at);
            starts.push_back(uint64_t(at) + 1);
        }
        return starts;
    }

    std::vector<uint8_t> bytes;
    int64_t sectorSize;
};

// Records the modes that devices are opened with.
// "index type start count kind": enough to tell rows and their order apart.
std::vector<std::string> summary(const PartitionWalkResult& r) {
    std::vector<std::string> out;
    for (const auto& row : r.rows)
        out.push_back(row.index + " " + row.type + " " + row.startSector + " " + row.sectorCount + " " +
                      row.kind);
    return out;
}

std::vector<std::string> starts(const PartitionWalkResult& r, const std::string& kind) {
    std::vector<std::string> out;
    for (const auto& row : r.rows)
        if (row.kind == kind) out.push_back(row.startSector);
    return out;
}

std::vector<std::string> toText(const std::vector<uint64_t>& values) {
    std::vector<std::string> out;
    for (auto v : values)
        out.push_back(std::to_string(v));
    return out;
}

class PartitionWalkTest : public ::testing::Test {
protected:
    std::string save(const std::vector<uint8_t>& bytes) {
        const std::string path = dir.file("disk" + std::to_string(++images) + ".img");
        writeFile(path, bytes);
        return path;
    }

    // Presents the image as physical drive 0 and walks it the way the drive list does.
    PartitionWalkResult walk(const Disk& disk, int64_t offset = 0, Faults faults = {}) {
        TestBackend backend;
        VirtualDrive drive;
        drive.imagePath = save(disk.bytes);
        drive.bytesPerSector = uint32_t(disk.sectorSize);
        drive.faults = faults;
        backend.addDrive(drive);
        auto result = ReadPartitionTable(backend, kDrive0, "0", offset);
        EXPECT_EQ(backend.openStreams(), 0) << "the device stays open after the walk";
        EXPECT_TRUE(backend.violations().empty());
        return result;
    }

    // Walks the disk through a stream that records every read; can pretend that the length query
    // fails.
    PartitionWalkResult walkRecorded(const Disk& disk, bool failLength, std::vector<int64_t>& reads) {
        platform::testkit::MemoryStream stream(disk.bytes);
        stream.failLength = failLength;
        auto result = WalkPartitionTable(stream, "0", 0);
        reads = stream.reads;
        EXPECT_EQ(stream.writes, 0);
        return result;
    }

    fixtures::TempDir dir;
    int images = 0;
};

// ---------------------------------------------------------------------------------------------
// Decoding a slot, CHS addresses, the type names and the row texts

TEST(PartitionEntryDecode, ReadsEveryFieldLittleEndianAtItsOffset) {
    const uint8_t bytes[16] = {0x80, 0x01, 0x02, 0x03, 0x0B, 0x05, 0x06, 0x07,
                               0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF};
    const PartitionEntry e = DecodePartitionEntry(std::span<const uint8_t, 16>(bytes));
    EXPECT_EQ(e.bootIndicator, 0x80);
    EXPECT_EQ(e.startHead, 0x01);
    EXPECT_EQ(e.startSector, 0x02);
    EXPECT_EQ(e.startCylinder, 0x03);
    EXPECT_EQ(e.type, 0x0B);
    EXPECT_EQ(e.endHead, 0x05);
    EXPECT_EQ(e.endSector, 0x06);
    EXPECT_EQ(e.endCylinder, 0x07);
    EXPECT_EQ(e.firstSector, 0x12345678u);
    EXPECT_EQ(e.sectorCount, 0xFFFFFFFEu);
    EXPECT_TRUE(e.bootable());
}

TEST(PartitionEntryDecode, AnyNonZeroBootIndicatorIsBootable) {
    EXPECT_FALSE(part(0x0B, 1, 1, 0x00).bootable());
    EXPECT_TRUE(part(0x0B, 1, 1, 0x01).bootable());
    EXPECT_TRUE(part(0x0B, 1, 1, 0xFF).bootable());
}

TEST(PartitionEntryDecode, ChsTakesCylinderBits8And9FromTheSectorByte) {
    EXPECT_EQ(DecodeChs(0x20, 0x21, 0x00), (ChsAddress{0, 32, 33}));
    EXPECT_EQ(DecodeChs(0x00, 0x41, 0x02), (ChsAddress{258, 0, 1}));
    EXPECT_EQ(DecodeChs(0x00, 0x81, 0x00), (ChsAddress{512, 0, 1}));
    EXPECT_EQ(DecodeChs(0xFE, 0xFF, 0xFF), (ChsAddress{1023, 254, 63}));
    EXPECT_EQ(FormatChs({1023, 254, 63}), "(C1023 H254 S63)");
    EXPECT_EQ(FormatChs({0, 0, 0}), "(C0 H0 S0)");
}

TEST(PartitionTypeNames, HoldsExactlyTheKnownTypes) {
    const std::map<int, std::string> expected = {
        {0x00, "Empty"},
        {0x01, "FAT12"},
        {0x04, "FAT16 (<32M)"},
        {0x05, "Extended"},
        {0x06, "FAT16 (> 32M)"},
        {0x07, "IFS (NTFS / HPFS)"},
        {0x08, "AIX boot partition / DELL spanning"},
        {0x09, "AIX data partition"},
        {0x0A, "OS/2 Boot Manager"},
        {0x0B, "FAT32"},
        {0x0C, "FAT32 LBA"},
        {0x0E, "FAT16 LBA"},
        {0x0F, "Extended (LBA)"},
        {0x11, "Hidden FT12"},
        {0x12, "Configuration/diagnostics"},
        {0x14, "Hidden FAT16 <32M"},
        {0x16, "Hidden FAT16 >=32M"},
        {0x17, "Hidden IFS (HPFS / NTFS)"},
        {0x82, "Linux swap / Solaris x86"},
        {0x83, "Linux native"},
        {0x84, "Hibernation partition"},
        {0x85, "Linux extended"},
        {0x86, "FAT16 volume set /Linux RAID superblock"},
        {0x87, "NTFS volume set"},
    };
    const auto& names = PartitionTypeNames();
    for (int type = 0; type < 256; ++type) {
        SCOPED_TRACE("type " + std::to_string(type));
        auto it = expected.find(type);
        EXPECT_EQ(names[size_t(type)], it == expected.end() ? std::string() : it->second);
    }
    EXPECT_EQ(&PartitionTypeNames(), &names) << "the table is built once";
}

TEST(PartitionRowText, CellsFollowTheColumnTitles) {
    EXPECT_EQ(
        std::vector<std::string>(kPartitionColumnTitles.begin(), kPartitionColumnTitles.end()),
        (std::vector<std::string>{"Index", "Drive", "boot", "CHS start", "Type", "CHS end", "start (#sector)",
                                  "size (#sector)", "size (bytes)", "size (MiB)", "Kind", "File system"}));

    PartitionEntry e = part(0x0C, 100, 4096, 0x80);
    e.startHead = 1;
    e.startSector = 2;
    e.startCylinder = 3;
    e.endHead = 4;
    e.endSector = 5;
    e.endCylinder = 6;
    const PartitionRow row = MakePartitionRow(e, 3, 1024, false, "7");
    const std::array<std::string, 12> cells = {"3",       "7",          "*",        "(C3 H1 S2)",
                                               "0C",      "(C6 H4 S5)", "102",      "4096",
                                               "2097152", "2",          "Extended", "FAT32 LBA"};
    EXPECT_EQ(row.cells(), cells);
    EXPECT_EQ(row.absoluteStart, 102u);
    EXPECT_EQ(row.slot, 3);
    EXPECT_EQ(row.tableOffset, 1024);
    EXPECT_EQ(row.entry, e);
}

TEST(PartitionRowText, LargeValuesStayUnsignedAnd64Bit) {
    const PartitionRow row =
        MakePartitionRow(part(0x07, 0xFFFFFFFF, 0xFFFFFFFF), 1, int64_t(2048) * 512, true, "0");
    EXPECT_EQ(row.sectorCount, "4294967295");
    EXPECT_EQ(row.sizeBytes, "2199023255040");
    EXPECT_EQ(row.sizeMiB, "2097151");
    EXPECT_EQ(row.startSector, "4294969343"); // 2048 + 0xFFFFFFFF, past 32 bits
    EXPECT_EQ(row.kind, "Primary");
    EXPECT_EQ(row.boot, "");
}

TEST(PartitionRowText, TypeIsTwoUpperCaseHexDigits) {
    EXPECT_EQ(MakePartitionRow(part(0x00, 1, 1), 1, 0, true, "0").type, "00");
    EXPECT_EQ(MakePartitionRow(part(0x0F, 1, 1), 1, 0, true, "0").type, "0F");
    EXPECT_EQ(MakePartitionRow(part(0xAF, 1, 1), 1, 0, true, "0").type, "AF");
}

// ---------------------------------------------------------------------------------------------
// The master boot record

TEST_F(PartitionWalkTest, OneFat32PrimaryGivesOneRow) {
    Disk disk(64);
    PartitionEntry e = part(0x0B, 63, 1000000);
    e.startHead = 1;
    e.startSector = 1;
    e.endHead = 254;
    e.endSector = 0xFF;
    e.endCylinder = 0xFF;
    disk.table(0, {e});

    const auto r = walk(disk);
    EXPECT_TRUE(r.messages.empty());
    ASSERT_EQ(r.rows.size(), 1u);
    const std::array<std::string, 12> cells = {
        "1",  "0",       "",          "(C0 H1 S1)", "0B",      "(C1023 H254 S63)",
        "63", "1000000", "512000000", "488",        "Primary", "FAT32"};
    EXPECT_EQ(r.rows[0].cells(), cells);
}

TEST_F(PartitionWalkTest, ListsSlotsWithAStartOrASizeWhateverTheirType) {
    Disk disk(64);
    disk.put(0, 1, part(0x0B, 0, 0, 0x80)); // a type alone does not make a partition
    disk.put(0, 2, part(0x00, 100, 0, 0x01));
    disk.put(0, 3, part(0x00, 0, 5));
    disk.put(0, 4, part(0xEE, 1, 0xFFFFFFFF));
    disk.sign(0);

    const auto r = walk(disk);
    EXPECT_EQ(summary(r), (std::vector<std::string>{"2 00 100 0 Primary", "3 00 0 5 Primary",
                                                    "4 EE 1 4294967295 Primary"}));
    EXPECT_EQ(r.rows[0].boot, "*");
    EXPECT_EQ(r.rows[0].fileSystem, "Empty");
    EXPECT_EQ(r.rows[1].boot, "");
    // The protective entry of a GUID partition table has no name here.
    EXPECT_EQ(r.rows[2].fileSystem, "");
    EXPECT_EQ(r.rows[2].sizeBytes, "2199023255040");
}

// Listed as recorded, but refused as selections: one would reach past the disk. Without a length
// nothing can be told, and nothing is refused.
TEST_F(PartitionWalkTest, PartitionsBeyondTheDeviceEndAreListedAsRecordedButRefused) {
    Disk disk(8);
    disk.table(0, {part(0x83, 0xFFFFFFFF, 0xFFFFFFFF), part(0x07, 1000, 2000), part(0x0B, 1, 7)});
    const auto r = walk(disk);
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 83 4294967295 4294967295 Primary",
                                                    "2 07 1000 2000 Primary", "3 0B 1 7 Primary"}));
    EXPECT_THROW(selections::fromPartition(r.rows[0], r.identity), UserError);
    EXPECT_EQ(r.rows[1].refusal,
              "The partition at sector 1000 of drive 0 cannot be selected: it ends past the "
              "end of the disk, which has 4096 bytes.");
    EXPECT_EQ(selections::fromPartition(r.rows[2], r.identity).Size, 7 * 512); // up to the last byte
    std::vector<int64_t> reads;
    for (const auto& row : walkRecorded(disk, true, reads).rows)
        EXPECT_EQ(row.refusal, "");
}

// A drive's tables count its logical sectors: the same table on a drive of 4096-byte sectors
// lists the same numbers, and its partitions and chained tables lie eight times as far out.
TEST_F(PartitionWalkTest, SectorFieldsCountTheDrivesLogicalSectors) {
    for (const int64_t sector : {512, 4096}) {
        SCOPED_TRACE(std::to_string(sector) + "-byte sectors");
        Disk disk(4096, sector);
        disk.table(0, {part(0x83, 256, 2560), part(0x05, 3072, 800), part(0x0C, 4000, 96)});
        disk.chain(3072, 2, 100);
        const auto r = walk(disk);
        EXPECT_TRUE(r.messages.empty());
        EXPECT_EQ(summary(r), (std::vector<std::string>{"1 83 256 2560 Primary", "2 05 3072 800 Primary",
                                                        "1 83 3073 99 Extended", "1 83 3173 99 Extended",
                                                        "3 0C 4000 96 Primary"}));
        for (const auto& row : r.rows) {
            EXPECT_EQ(row.byteOffset, int64_t(row.absoluteStart) * sector);
            EXPECT_EQ(row.sizeBytes, std::to_string(row.entry.sectorCount * sector));
            EXPECT_TRUE(row.refusal.empty());
        }
        EXPECT_EQ(r.rows[0].sizeMiB, sector == 512 ? "1" : "10");
        const TFileInfo first = selections::fromPartition(r.rows[0], r.identity);
        EXPECT_EQ(first.Offset, 256 * sector);
        EXPECT_EQ(first.Size, 2560 * sector);
        // Read again from the extended partition's first byte, as after a label change.
        EXPECT_EQ(summary(walk(disk, r.rows[1].byteOffset)),
                  (std::vector<std::string>{"1 83 3073 99 Primary", "2 05 3172 100 Primary",
                                            "1 83 3173 99 Extended"}));
    }
}

TEST_F(PartitionWalkTest, TableAtAPartitionsFirstByteCountsFromThatSector) {
    Disk disk(4096);
    disk.table(2048, {part(0x05, 16, 1000), part(0x0B, 0xFFFFFFFF, 8)});
    disk.table(2064, {part(0x83, 4, 10)});

    const auto r = walk(disk, int64_t(2048) * 512);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 2064 1000 Primary", "1 83 2068 10 Extended",
                                                    "2 0B 4294969343 8 Primary"}));
}

// ---------------------------------------------------------------------------------------------
// Order and arithmetic of the extended chain

TEST_F(PartitionWalkTest, LogicalPartitionsFollowTheirExtendedEntryBeforeLaterSlots) {
    Disk disk(4096);
    disk.table(0, {part(0x0B, 63, 937), part(0x05, 1000, 2000), part(0x83, 3000, 500)});
    disk.chain(1000, 2, 100);

    const auto r = walk(disk);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 0B 63 937 Primary", "2 05 1000 2000 Primary",
                                                    "1 83 1001 99 Extended", "1 83 1101 99 Extended",
                                                    "3 83 3000 500 Primary"}));
    EXPECT_EQ(r.rows[1].fileSystem, "Extended");
    EXPECT_EQ(r.rows[2].fileSystem, "Linux native");
}

TEST_F(PartitionWalkTest, ThreeLogicalPartitionsWithAbsoluteStarts) {
    // Links count from the extended start and partitions from their own table: with the tables
    // 300 sectors apart, taking a link from the table that holds it would skip the second one.
    Disk disk(4096);
    disk.table(0, {part(0x05, 2048, 1000)});
    const auto expected = disk.chain(2048, 3, 300);
    ASSERT_EQ(toText(expected), (std::vector<std::string>{"2049", "2349", "2649"}));

    const auto r = walk(disk);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 2048 1000 Primary", "1 83 2049 299 Extended",
                                                    "1 83 2349 299 Extended", "1 83 2649 299 Extended"}));
    for (const auto& row : r.rows)
        EXPECT_EQ(row.drive, "0");
}

TEST_F(PartitionWalkTest, EveryExtendedEntryOfTheMbrStartsItsOwnChain) {
    Disk disk(4096);
    disk.table(0, {part(0x05, 1000, 500), part(0x05, 2000, 500)});
    disk.chain(1000, 2, 10, 0x07);
    disk.chain(2000, 2, 20, 0x0C);

    EXPECT_EQ(summary(walk(disk)),
              (std::vector<std::string>{"1 05 1000 500 Primary", "1 07 1001 9 Extended",
                                        "1 07 1011 9 Extended", "2 05 2000 500 Primary",
                                        "1 0C 2001 19 Extended", "1 0C 2021 19 Extended"}));
}

TEST_F(PartitionWalkTest, OnlyType05IsFollowed) {
    Disk disk(4096);
    disk.table(0, {part(0x0F, 1000, 100), part(0x85, 2000, 100), part(0x05, 0, 100)});
    disk.chain(1000, 1, 10);
    disk.chain(2000, 1, 10);

    std::vector<int64_t> reads;
    const auto r = walkRecorded(disk, false, reads);
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 0F 1000 100 Primary", "2 85 2000 100 Primary",
                                                    "3 05 0 100 Primary"}));
    EXPECT_EQ(r.rows[0].fileSystem, "Extended (LBA)");
    EXPECT_EQ(r.rows[1].fileSystem, "Linux extended");
    EXPECT_EQ(reads, std::vector<int64_t>{0}) << "an extended entry with first sector 0 is not followed";
}

TEST_F(PartitionWalkTest, ChainedTablesListOrdinarySlotsOfAnyTypeButNoLinks) {
    Disk disk(4096);
    disk.table(0, {part(0x05, 1000, 1000)});
    // A table of the chain with a second partition, a 0x0F entry and a link in slot 4.
    disk.table(1000, {part(0x83, 10, 5), part(0x82, 20, 5), part(0x0F, 30, 5), part(0x05, 500, 100)});
    disk.table(1500, {part(0x07, 2, 3)});

    EXPECT_EQ(summary(walk(disk)), (std::vector<std::string>{"1 05 1000 1000 Primary", "1 83 1010 5 Extended",
                                                             "2 82 1020 5 Extended", "3 0F 1030 5 Extended",
                                                             "1 07 1502 3 Extended"}));
}

// ---------------------------------------------------------------------------------------------
// Failures and what the user is told

TEST_F(PartitionWalkTest, MessagesUseTheExactTexts) {
    EXPECT_EQ(kMsgFailedToOpenDevice, "Failed to open device");
    EXPECT_EQ(kMsgFailedToReadMbr, "Failed to read MBR");
    EXPECT_EQ(kMsgNoPartitionTable,
              "MBR does not contain a partition table\n\nThe partition table may be zero or "
              "contain random data\n\nIgnoring... ");
}

TEST_F(PartitionWalkTest, BlankDiskShowsNoTableMessageAndNoRows) {
    const auto r = walk(Disk(64));
    EXPECT_EQ(r.messages, std::vector<std::string>{std::string(kMsgNoPartitionTable)});
    EXPECT_TRUE(r.rows.empty());
}

TEST_F(PartitionWalkTest, MbrWithoutSignatureIsDecodedAnyway) {
    Disk disk(4096);
    disk.put(0, 1, part(0x05, 1000, 100));
    disk.put(0, 3, part(0x0B, 63, 10));
    disk.chain(1000, 1, 10);

    const auto r = walk(disk);
    EXPECT_EQ(r.messages, std::vector<std::string>{std::string(kMsgNoPartitionTable)});
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 1000 100 Primary", "1 83 1001 9 Extended",
                                                    "3 0B 63 10 Primary"}));
}

TEST_F(PartitionWalkTest, ShortFirstSectorFailsToReadMbr) {
    Disk full(64);
    full.table(0, {part(0x0B, 63, 1)});

    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Faults faults;
        int64_t offset;
    };
    std::vector<Case> cases;
    cases.push_back(
        {"300-byte device", std::vector<uint8_t>(full.bytes.begin(), full.bytes.begin() + 300), {}, 0});
    cases.push_back(
        {"511-byte device", std::vector<uint8_t>(full.bytes.begin(), full.bytes.begin() + 511), {}, 0});
    cases.push_back({"empty device", {}, {}, 0});
    Faults endsEarly;
    endsEarly.endsAt = 511;
    cases.push_back({"device ends early", full.bytes, endsEarly, 0});
    Faults readError;
    readError.readErrorAt = 510;
    cases.push_back({"read error", full.bytes, readError, 0});
    cases.push_back({"offset past the end", full.bytes, {}, 64 * 512});
    cases.push_back({"negative offset", full.bytes, {}, -512});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Disk disk(0);
        disk.bytes = c.bytes;
        const auto r = walk(disk, c.offset, c.faults);
        EXPECT_EQ(r.messages, std::vector<std::string>{std::string(kMsgFailedToReadMbr)});
        EXPECT_TRUE(r.rows.empty());
    }
}

TEST_F(PartitionWalkTest, OpenFailureShowsMessageAndNoRows) {
    Disk disk(64);
    disk.table(0, {part(0x0B, 63, 1)});
    Faults refuse;
    refuse.failOpen = true;
    const auto refused = walk(disk, 0, refuse);
    EXPECT_EQ(refused.messages, std::vector<std::string>{std::string(kMsgFailedToOpenDevice)});
    EXPECT_TRUE(refused.rows.empty());

    TestBackend noDrives;
    const auto missing = ReadPartitionTable(noDrives, "\\\\.\\PHYSICALDRIVE3", "3", 0);
    EXPECT_EQ(missing.messages, std::vector<std::string>{std::string(kMsgFailedToOpenDevice)});

    const auto noFile = ReadPartitionTable(platform::systemBackend(), dir.file("absent.img"), "x", 0);
    EXPECT_EQ(noFile.messages, std::vector<std::string>{std::string(kMsgFailedToOpenDevice)});
    EXPECT_TRUE(noFile.rows.empty());
}

TEST_F(PartitionWalkTest, OpensForReadingOnceAndClosesWhenDone) {
    Disk disk(4096);
    disk.table(0, {part(0x05, 1000, 100)});
    disk.chain(1000, 3, 10);
    TestBackend drives;
    VirtualDrive drive;
    drive.imagePath = save(disk.bytes);
    drive.writable = platform::ByteRange::of(0, 0); // any write would be recorded
    drives.addDrive(drive);
    const auto r = ReadPartitionTable(drives, kDrive0, "0", 0);
    EXPECT_EQ(r.rows.size(), 4u);
    ASSERT_EQ(drives.opens().size(), 1u);
    EXPECT_EQ(drives.opens()[0].second, platform::OpenMode::Read);
    EXPECT_EQ(drives.openStreams(), 0);
    EXPECT_TRUE(drives.violations().empty());
}

TEST_F(PartitionWalkTest, UnreadableChainedTableEndsOnlyThatBranch) {
    Disk disk(4096);
    disk.table(0, {part(0x05, 1000, 100), part(0x0B, 3000, 10)});
    disk.chain(1000, 3, 10);
    Faults faults;
    faults.readErrorAt = int64_t(1010) * 512 + 100; // the second table of the chain

    const auto r = walk(disk, 0, faults);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 1000 100 Primary", "1 83 1001 9 Extended",
                                                    "2 0B 3000 10 Primary"}));
}

TEST_F(PartitionWalkTest, ChainedTableWithoutSignatureEndsOnlyThatBranch) {
    Disk disk(4096);
    disk.table(0, {part(0x05, 1000, 100), part(0x0B, 3000, 10)});
    disk.chain(1000, 3, 10);
    disk.bytes[size_t(1010 * 512 + 511)] = 0x00;

    const auto r = walk(disk);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 1000 100 Primary", "1 83 1001 9 Extended",
                                                    "2 0B 3000 10 Primary"}));
}

TEST_F(PartitionWalkTest, ChainedTablePastTheDeviceEndIsNotRead) {
    Disk disk(100);
    disk.table(0, {part(0x05, 100, 10), part(0x05, 99, 1)});
    disk.put(99, 1, part(0x83, 0, 0));          // the last whole sector is readable but holds no table
    disk.bytes.resize(disk.bytes.size() + 100); // and sector 100 is only partly there
    for (bool failLength : {false, true}) {
        SCOPED_TRACE(failLength ? "length unknown" : "length known");
        std::vector<int64_t> reads;
        const auto r = walkRecorded(disk, failLength, reads);
        EXPECT_TRUE(r.messages.empty());
        EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 100 10 Primary", "2 05 99 1 Primary"}));
        // Sector 99 is the last whole one and may be read; sector 100 does not fit.
        if (failLength)
            EXPECT_EQ(reads, (std::vector<int64_t>{0, 100 * 512, 99 * 512}));
        else
            EXPECT_EQ(reads, (std::vector<int64_t>{0, 99 * 512}));
    }
}

// ---------------------------------------------------------------------------------------------
// Malformed chains end

TEST_F(PartitionWalkTest, LinkToItselfIsNotFollowed) {
    Disk disk(4096);
    disk.table(0, {part(0x05, 1000, 100)});
    disk.chain(1000, 2, 10);
    disk.put(1010, 2, part(0x05, 10, 10)); // the second table links to itself

    for (bool failLength : {false, true}) {
        SCOPED_TRACE(failLength ? "length unknown" : "length known");
        std::vector<int64_t> reads;
        const auto r = walkRecorded(disk, failLength, reads);
        EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 1000 100 Primary", "1 83 1001 9 Extended",
                                                        "1 83 1011 9 Extended"}));
        EXPECT_EQ(reads, (std::vector<int64_t>{0, 1000 * 512, 1010 * 512}));
    }
}

// Logical partitions made out of order link backwards on the disk: such a link is followed to a
// table not read yet, never to one already read.
TEST_F(PartitionWalkTest, LinkBackIsFollowedOnlyToATableNotReadYet) {
    Disk disk(4096);
    disk.table(0, {part(0x05, 1000, 100), part(0x0B, 3000, 10)});
    disk.chain(1000, 3, 10);
    disk.put(1020, 2, part(0x05, 10, 10));                   // the third table links back to the second
    disk.put(1020, 3, part(0x05, 2, 10));                    // and to a table between the first and second
    disk.table(1002, {part(0x07, 1, 1), part(0x05, 10, 1)}); // which links back to the second
    disk.put(1020, 4, part(0x05, 200, 1)); // a link outside the extended partition is not followed
    disk.table(1200, {part(0x83, 1, 1)});

    for (bool failLength : {false, true}) {
        SCOPED_TRACE(failLength ? "length unknown" : "length known");
        std::vector<int64_t> reads;
        const auto r = walkRecorded(disk, failLength, reads);
        EXPECT_TRUE(r.messages.empty());
        EXPECT_EQ(summary(r), (std::vector<std::string>{"1 05 1000 100 Primary", "1 83 1001 9 Extended",
                                                        "1 83 1011 9 Extended", "1 83 1021 9 Extended",
                                                        "1 07 1003 1 Extended", "2 0B 3000 10 Primary"}));
        EXPECT_EQ(reads, (std::vector<int64_t>{0, 1000 * 512, 1010 * 512, 1020 * 512, 1002 * 512}));
        EXPECT_TRUE(r.notes.empty());
    }
}

TEST_F(PartitionWalkTest, LongLegalChainIsFollowedToItsEnd) {
    Disk disk(2100);
    disk.table(0, {part(0x05, 64, 2000), part(0x83, 2064, 30)});
    const auto expected = disk.chain(64, 100, 20);

    for (bool failLength : {false, true}) {
        SCOPED_TRACE(failLength ? "length unknown" : "length known");
        std::vector<int64_t> reads;
        const auto r = walkRecorded(disk, failLength, reads);
        EXPECT_TRUE(r.messages.empty());
        ASSERT_EQ(r.rows.size(), 102u);
        EXPECT_EQ(starts(r, "Extended"), toText(expected));
        EXPECT_EQ(r.rows.back().startSector, "2064");
        EXPECT_EQ(reads.size(), 101u);
    }
}

TEST_F(PartitionWalkTest, WalkReadsAtMost256Tables) {
    // A legal chain of 300 logical partitions, reachable four times over from the MBR.
    Disk disk(700);
    disk.table(0, {part(0x05, 64, 600), part(0x05, 64, 600), part(0x05, 64, 600), part(0x05, 64, 600)});
    const auto all = disk.chain(64, 300, 2);

    for (bool failLength : {false, true}) {
        SCOPED_TRACE(failLength ? "length unknown" : "length known");
        std::vector<int64_t> reads;
        const auto r = walkRecorded(disk, failLength, reads);
        EXPECT_EQ(reads.size(), size_t(kMaxPartitionTables));
        // The first 255 logical partitions, then the remaining MBR entries, listed but not followed.
        const std::vector<uint64_t> first255(all.begin(), all.begin() + 255);
        EXPECT_EQ(starts(r, "Extended"), toText(first255));
        EXPECT_EQ(starts(r, "Primary"), (std::vector<std::string>{"64", "64", "64", "64"}));
        EXPECT_EQ(r.rows.size(), 4u + 255u);
        EXPECT_EQ(r.rows[256].kind, "Primary");
        EXPECT_EQ(r.notes, std::vector<std::string>{std::string(kNoteChainCut)}) << "the cut is said, once";
    }
}

// ---------------------------------------------------------------------------------------------
// Tables written by sfdisk

std::string findSfdisk() {
#ifdef _WIN32
    return {}; // a Linux tool
#else
    std::vector<std::string> dirs = {"/sbin", "/usr/sbin"};
    if (const char* path = std::getenv("PATH")) {
        std::stringstream in(path);
        for (std::string d; std::getline(in, d, ':');)
            if (!d.empty()) dirs.push_back(d);
    }
    for (const auto& d : dirs) {
        const fs::path p = fs::path(d) / "sfdisk";
        if (::access(p.c_str(), X_OK) == 0) return p.string();
    }
    return {};
#endif
}

std::string shellQuoted(const std::string& s) {
    return "'" + s + "'";
}

class SfdiskImageTest : public PartitionWalkTest {
protected:
    void SetUp() override {
        sfdisk = findSfdisk();
        if (sfdisk.empty())
            GTEST_SKIP() << "sfdisk (package fdisk) is not installed: no real partition tables to read";
    }

    // Runs sfdisk with the script on a sparse image of the given size; returns the image path.
    std::string partition(int64_t bytes, const std::string& script) {
        const std::string image = dir.file("sfdisk" + std::to_string(++images) + ".img");
        writeFile(image, {});
        fs::resize_file(image, uintmax_t(bytes));
        const std::string scriptFile = dir.file("script.txt");
        writeFile(scriptFile, std::vector<uint8_t>(script.begin(), script.end()));
        std::string output;
        const int status = fixtures::shell(shellQuoted(sfdisk) + " --no-reread --no-tell-kernel " +
                                               shellQuoted(image) + " < " + shellQuoted(scriptFile) + " 2>&1",
                                           &output);
        EXPECT_EQ(status, 0) << "sfdisk failed:\n" << output;
        return image;
    }

    // sfdisk's own reading of the image: "start size" per partition, in partition-number order.
    std::vector<std::string> dump(const std::string& image) {
        std::string output;
        EXPECT_EQ(fixtures::shell(shellQuoted(sfdisk) + " --dump " + shellQuoted(image) + " 2>&1", &output),
                  0)
            << output;
        std::vector<std::string> out;
        std::stringstream in(output);
        for (std::string line; std::getline(in, line);) {
            const auto start = line.find("start=");
            const auto size = line.find("size=");
            if (start == std::string::npos || size == std::string::npos) continue;
            out.push_back(std::to_string(std::stoll(line.substr(start + 6))) + " " +
                          std::to_string(std::stoll(line.substr(size + 5))));
        }
        return out;
    }

    PartitionWalkResult walkImage(const std::string& image) {
        TestBackend backend;
        backend.addDrive(VirtualDrive(image));
        auto r = ReadPartitionTable(backend, kDrive0, "0", 0);
        EXPECT_EQ(backend.openStreams(), 0);
        return r;
    }

    std::string sfdisk;
};

// Three logical partitions, and a primary in slot 3 that lies after the extended partition.
const char* const kThreeLogicalsScript = "label: dos\n"
                                         "unit: sectors\n"
                                         "\n"
                                         "start=2048, size=20480, type=83\n"
                                         "start=22528, size=65536, type=5\n"
                                         "start=24576, size=8192, type=83\n"
                                         "start=34816, size=8192, type=82\n"
                                         "start=45056, size=8192, type=7\n"
                                         "start=90112, size=4096, type=c\n";
const int64_t kThreeLogicalsDiskBytes = int64_t(131072) * 512;
const std::vector<std::string> kThreeLogicalsRows = {"1 83 2048 20480 Primary",  "2 05 22528 65536 Primary",
                                                     "1 83 24576 8192 Extended", "1 82 34816 8192 Extended",
                                                     "1 07 45056 8192 Extended", "3 0C 90112 4096 Primary"};

TEST_F(SfdiskImageTest, BootableFat32AndExtendedWithTwoLogicals) {
    const int64_t sectors = 262144; // 128 MiB
    const std::string image = partition(sectors * 512, "label: dos\n"
                                                       "label-id: 0x12345678\n"
                                                       "unit: sectors\n"
                                                       "\n"
                                                       "start=2048, size=81920, type=b, bootable\n"
                                                       "start=83968, type=5\n"
                                                       "size=16384, type=83\n"
                                                       "size=16384, type=83\n");
    const auto r = walkImage(image);
    EXPECT_TRUE(r.messages.empty());
    ASSERT_EQ(r.rows.size(), 4u);

    const std::array<std::string, 12> fat32 = {
        "1",    "0",     "*",        "(C0 H32 S33)", "0B",      r.rows[0].chsEnd,
        "2048", "81920", "41943040", "40",           "Primary", "FAT32"};
    EXPECT_EQ(r.rows[0].cells(), fat32);
    EXPECT_EQ(r.rows[1].index, "2");
    EXPECT_EQ(r.rows[1].type, "05");
    EXPECT_EQ(r.rows[1].startSector, "83968");
    EXPECT_EQ(r.rows[1].sectorCount, std::to_string(sectors - 83968)); // the rest of the disk
    EXPECT_EQ(r.rows[1].fileSystem, "Extended");
    EXPECT_EQ(r.rows[1].boot, "");
    for (size_t i = 2; i < 4; ++i) {
        SCOPED_TRACE("logical " + std::to_string(i - 1));
        EXPECT_EQ(r.rows[i].index, "1");
        EXPECT_EQ(r.rows[i].type, "83");
        EXPECT_EQ(r.rows[i].sectorCount, "16384");
        EXPECT_EQ(r.rows[i].sizeMiB, "8");
        EXPECT_EQ(r.rows[i].kind, "Extended");
        EXPECT_EQ(r.rows[i].fileSystem, "Linux native");
    }
    // sfdisk chose where the logical partitions start; it must agree with what we read.
    std::vector<std::string> ours;
    for (const auto& row : r.rows)
        ours.push_back(row.startSector + " " + row.sectorCount);
    EXPECT_EQ(ours, dump(image));
}

TEST_F(SfdiskImageTest, ThreeLogicalsListedBeforeThePrimaryAfterTheExtended) {
    const auto r = walkImage(partition(kThreeLogicalsDiskBytes, kThreeLogicalsScript));
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(summary(r), kThreeLogicalsRows);
    std::vector<std::string> names;
    for (const auto& row : r.rows)
        names.push_back(row.fileSystem);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Linux native", "Extended", "Linux native",
                                        "Linux swap / Solaris x86", "IFS (NTFS / HPFS)", "FAT32 LBA"}));
}

TEST_F(SfdiskImageTest, LoopDeviceGivesTheSameRowsAsItsImage) {
    const std::string image = partition(kThreeLogicalsDiskBytes, kThreeLogicalsScript);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();

    const auto r = ReadPartitionTable(platform::systemBackend(), loop.node(), "0", 0);
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(summary(r), kThreeLogicalsRows);
    const auto fromImage = walkImage(image);
    ASSERT_EQ(r.rows.size(), fromImage.rows.size());
    for (size_t i = 0; i < r.rows.size(); ++i)
        EXPECT_EQ(r.rows[i].cells(), fromImage.rows[i].cells());
}

// On a loop device of 4096-byte sectors the table counts those sectors (sfdisk --dump agrees) and
// the partitions lie where partx says in bytes (its START counts 512-byte units on any device).
TEST_F(SfdiskImageTest, LoopDeviceWith4096ByteSectors) {
    if (!fixtures::isRoot())
        GTEST_SKIP() << "a device with 4096-byte sectors is a loop device, which needs root";
    const std::string image = dir.file("4k.img");
    writeFile(image, {});
    fs::resize_file(image, 64 << 20);
    struct Loop {
        std::string node;
        ~Loop() {
            if (!node.empty()) fixtures::shell("losetup -d " + shellQuoted(node));
        }
    } loop;
    if (fixtures::shell("losetup -f --show --sector-size 4096 " + shellQuoted(image), &loop.node) != 0)
        GTEST_SKIP() << "losetup could not attach a loop device with 4096-byte sectors";
    const std::string node = loop.node = loop.node.substr(0, loop.node.find('\n'));
    const std::string script = dir.file("4k.txt");
    const std::string table = "label: dos\nunit: sectors\n\nstart=256, size=2560, type=83\n"
                              "start=3072, size=8192, type=5\nstart=12000, size=500, type=c\n"
                              "start=3328, size=1024, type=83\nstart=4608, size=1024, type=7\n";
    writeFile(script, std::vector<uint8_t>(table.begin(), table.end()));
    ASSERT_EQ(fixtures::shell(shellQuoted(sfdisk) + " --no-reread --no-tell-kernel " + shellQuoted(node) +
                              " < " + shellQuoted(script) + " >/dev/null 2>&1"),
              0);
    std::string partx;
    ASSERT_EQ(fixtures::shell("partx -b -g -o START,SIZE " + shellQuoted(node), &partx), 0);

    const auto r = ReadPartitionTable(platform::systemBackend(), node, "0", 0);
    EXPECT_TRUE(r.messages.empty());
    ASSERT_EQ(r.rows.size(), 5u);
    std::vector<std::string> sectors, bytes, expectedBytes;
    for (const auto& row : r.rows) {
        sectors.push_back(row.startSector + " " + row.sectorCount);
        const TFileInfo info = selections::fromPartition(row, r.identity);
        bytes.push_back(std::to_string(info.Offset) + " " + std::to_string(info.Size));
    }
    std::stringstream in(partx);
    for (int64_t start, size; in >> start >> size;)
        expectedBytes.push_back(std::to_string(start * 512) + " " + std::to_string(size));
    auto expectedSectors = dump(node);
    for (auto* list : {&sectors, &bytes, &expectedBytes, &expectedSectors})
        std::sort(list->begin(), list->end());
    EXPECT_EQ(sectors, expectedSectors);
    EXPECT_EQ(bytes, expectedBytes);
    EXPECT_EQ(r.rows[0].byteOffset, 256 * 4096);
}

} // namespace
