// GUID partition tables: read as sgdisk writes them, their header and entry array checked by
// their CRC-32s, falling back to the backup copy and saying why.

#include "core/user_error.h"
#include "discovery/gpt.h"
#include "discovery/partitions.h"
#include "discovery/selections.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <fstream>
#include <sstream>

using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
void put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b[at + size_t(i)] = uint8_t(v >> (8 * i));
}
uint32_t crcOf(const uint8_t* p, size_t n) {
    return uint32_t(::crc32(::crc32(0, nullptr, 0), p, uInt(n)));
}

// "Linux file system" as stored on disk.
const std::array<uint8_t, 16> kLinux{0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                     0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};

// A disk image with a protective MBR and a GUID table (both copies), written by hand so that
// every field can be made wrong on purpose.
struct GptDisk {
    int64_t sector = 512;
    int64_t sectors = 4096;
    uint32_t count = 128;
    uint32_t entrySize = 128;
    std::vector<std::pair<uint64_t, uint64_t>> partitions; // first, last LBA

    std::vector<uint8_t> build() const {
        std::vector<uint8_t> disk(static_cast<size_t>(sector * sectors));
        disk[446 + 4] = 0xEE;
        put32(disk, 446 + 8, 1);
        put32(disk, 446 + 12, uint32_t(std::min<int64_t>(sectors - 1, 0xFFFFFFFF)));
        disk[510] = 0x55;
        disk[511] = 0xAA;
        std::vector<uint8_t> array(static_cast<size_t>(count) * entrySize);
        for (size_t i = 0; i < partitions.size() && i < count; ++i) {
            const size_t e = i * entrySize;
            std::memcpy(&array[e], kLinux.data(), 16);
            array[e + 16] = uint8_t(i + 1);
            put64(array, e + 32, partitions[i].first);
            put64(array, e + 40, partitions[i].second);
            const std::string name = "part" + std::to_string(i + 1);
            for (size_t c = 0; c < name.size(); ++c)
                array[e + 56 + 2 * c] = uint8_t(name[c]);
        }
        const uint64_t arraySectors = (array.size() + uint64_t(sector) - 1) / uint64_t(sector);
        const uint64_t last = uint64_t(sectors) - 1;
        writeCopy(disk, array, 1, last, 2);
        writeCopy(disk, array, last, 1, arraySectors < last ? last - arraySectors : last);
        return disk;
    }

private:
    void writeCopy(std::vector<uint8_t>& disk, const std::vector<uint8_t>& array, uint64_t at, uint64_t other,
                   uint64_t entriesLba) const {
        std::vector<uint8_t> h(static_cast<size_t>(sector));
        std::memcpy(h.data(), "EFI PART", 8);
        put32(h, 8, 0x00010000);
        put32(h, 12, 92);
        put64(h, 24, at);
        put64(h, 32, other);
        put64(h, 40, 34);
        put64(h, 48, uint64_t(sectors) - 34);
        put64(h, 72, entriesLba);
        put32(h, 80, count);
        put32(h, 84, entrySize);
        put32(h, 88, crcOf(array.data(), array.size()));
        put32(h, 16, crcOf(h.data(), 92));
        std::memcpy(&disk[size_t(at * uint64_t(sector))], h.data(), h.size());
        // An array too large for the disk is left out: its header still claims it.
        if (!array.empty() && entriesLba < uint64_t(sectors) &&
            entriesLba * uint64_t(sector) + array.size() <= disk.size())
            std::memcpy(&disk[size_t(entriesLba * uint64_t(sector))], array.data(), array.size());
    }
};

std::vector<std::string> gptRows(const PartitionWalkResult& r) {
    std::vector<std::string> rows;
    for (const auto& row : r.rows)
        rows.push_back(row.kind + " " + row.index + " " + row.startSector + " " + row.sectorCount + " " +
                       row.type + (row.kind == "GPT" ? " " + row.fileSystem : ""));
    return rows;
}

PartitionWalkResult walkImage(const std::string& path, uint32_t sectorSize = 512) {
    TestBackend backend;
    VirtualDrive drive(path);
    drive.bytesPerSector = sectorSize;
    backend.addDrive(drive);
    return ReadPartitionTable(backend, platform::physicalDriveName(0), "0", 0);
}

TEST(GptTable, DamageFallsBackToTheBackupOrSaysWhy) {
    const uint64_t primaryArray = 2 * 512, backupArray = (4096 - 33) * 512;
    const struct {
        const char* name;
        std::function<void(GptDisk&)> shape;
        std::function<void(std::vector<uint8_t>&)> damage;
        std::vector<std::string> rows;
        std::string note; // the start of the one note expected, or empty for none
    } cases[] = {
        {"sound",
         {},
         {},
         {"Primary 1 1 4095 EE", "GPT 1 34 67 Linux file system part1",
          "GPT 2 200 101 Linux file system part2"},
         ""},
        {"primary header checksum",
         {},
         [](auto& d) { d[512 + 40] ^= 1; },
         {"Primary 1 1 4095 EE", "GPT 1 34 67 Linux file system part1",
          "GPT 2 200 101 Linux file system part2"},
         "The primary GUID partition table is damaged (its header's checksum does not match)"},
        {"primary array",
         {},
         [&](auto& d) { d[primaryArray + 33] ^= 1; },
         {"Primary 1 1 4095 EE", "GPT 1 34 67 Linux file system part1",
          "GPT 2 200 101 Linux file system part2"},
         "The primary GUID partition table is damaged (its entry array's checksum does not match)"},
        {"both arrays",
         {},
         [&](auto& d) {
             d[primaryArray + 33] ^= 1;
             d[backupArray + 33] ^= 1;
         },
         {"Primary 1 1 4095 EE"},
         "No GUID partition is listed"},
        {"no entries", [](GptDisk& g) { g.count = 0; }, {}, {"Primary 1 1 4095 EE"}, ""},
        {"entries of 256 bytes",
         [](GptDisk& g) { g.entrySize = 256; },
         {},
         {"Primary 1 1 4095 EE", "GPT 1 34 67 Linux file system part1",
          "GPT 2 200 101 Linux file system part2"},
         ""},
        {"entries of 17 bytes",
         [](GptDisk& g) { g.entrySize = 17; },
         {},
         {"Primary 1 1 4095 EE"},
         "No GUID partition is listed"},
        {"an array larger than the disk",
         [](GptDisk& g) { g.count = 100000; },
         {},
         {"Primary 1 1 4095 EE"},
         "No GUID partition is listed: the table's primary copy is unusable (its entry array does not fit on "
         "the "
         "disk) and so is its backup (its entry array does not fit on the disk)."},
    };
    fixtures::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GptDisk g;
        g.partitions = {{34, 100}, {200, 300}};
        if (c.shape) c.shape(g);
        auto bytes = g.build();
        if (c.damage) c.damage(bytes);
        fixtures::writeFile(dir.file("gpt.img"), bytes);
        const auto r = walkImage(dir.file("gpt.img"));
        EXPECT_TRUE(r.messages.empty());
        EXPECT_EQ(gptRows(r), c.rows);
        if (c.note.empty()) {
            EXPECT_TRUE(r.notes.empty()) << r.notes.front();
        } else {
            ASSERT_EQ(r.notes.size(), 1u);
            EXPECT_EQ(r.notes[0].rfind(c.note, 0), 0u) << r.notes[0];
        }
    }
}

TEST(GptTable, PartitionsAfterTheProtectiveEntryAndSelectedAtTheirBytes) {
    fixtures::TempDir dir;
    GptDisk g;
    g.sector = 4096;
    g.sectors = 1024;
    g.partitions = {{6, 99}, {100, 199}};
    auto bytes = g.build();
    // A hybrid record: the protective entry, then an ordinary one.
    bytes[446 + 16 + 4] = 0x83;
    put32(bytes, 446 + 16 + 8, 800);
    put32(bytes, 446 + 16 + 12, 8);
    fixtures::writeFile(dir.file("4k.img"), bytes);
    const auto r = walkImage(dir.file("4k.img"), 4096);
    EXPECT_EQ(gptRows(r),
              (std::vector<std::string>{"Primary 1 1 1023 EE", "GPT 1 6 94 Linux file system part1",
                                        "GPT 2 100 100 Linux file system part2", "Primary 2 800 8 83"}));
    const TFileInfo second = selections::fromPartition(r.rows[2], r.identity);
    EXPECT_EQ(second.Offset, 100 * 4096);
    EXPECT_EQ(second.Size, 100 * 4096);
    EXPECT_EQ(second.DefaultName, "DRIVE_0P2");
    EXPECT_TRUE(r.rows[1].chsStart.empty());
}

// Entries no disk can hold are listed as recorded, each named in a note, and never selected.
TEST(GptTable, EntriesPastTheDiskOrEndingBeforeTheyStartAreNotedAndRefused) {
    fixtures::TempDir dir;
    for (const int64_t sector : {512, 4096}) {
        SCOPED_TRACE(std::to_string(sector) + "-byte sectors");
        GptDisk g;
        g.sector = sector;
        g.sectors = 1024;
        g.partitions = {{40, 1023}, {200, 1024}, {300, 250}, {2000, 3000}};
        fixtures::writeFile(dir.file("gpt.img"), g.build());
        const auto r = walkImage(dir.file("gpt.img"), uint32_t(sector));
        EXPECT_EQ(gptRows(r),
                  (std::vector<std::string>{"Primary 1 1 1023 EE", "GPT 1 40 984 Linux file system part1",
                                            "GPT 2 200 825 Linux file system part2",
                                            "GPT 3 300 0 Linux file system part3",
                                            "GPT 4 2000 1001 Linux file system part4"}));
        EXPECT_EQ(r.rows[3].sizeBytes, "0");
        EXPECT_EQ(
            r.notes,
            (std::vector<std::string>{
                "GUID partition 2 ends past the end of the disk: its last sector is 1024, the disk's last "
                "is 1023.",
                "GUID partition 3 ends before it starts: its last sector, 250, lies below its first, 300.",
                "GUID partition 4 ends past the end of the disk: its last sector is 3000, the disk's last "
                "is 1023."}));
        EXPECT_EQ(selections::fromPartition(r.rows[1], r.identity).Size, 984 * sector);
        for (size_t i = 2; i < 5; ++i)
            EXPECT_THROW(selections::fromPartition(r.rows[i], r.identity), UserError);
        EXPECT_EQ(r.rows[3].refusal, "The partition at sector 300 of drive 0 cannot be selected: its entry "
                                     "ends at sector 250, before it starts.");
    }
}

// sgdisk's own tables, on an image file (512-byte sectors) and on a loop device with 4096-byte
// sectors: every partition at the start and size `sgdisk -p` gives.
TEST(GptTable, ListsWhatSgdiskWrote) {
    if (fixtures::shell("command -v sgdisk >/dev/null") != 0) GTEST_SKIP() << "sgdisk (gdisk) is needed";
    fixtures::TempDir dir;
    for (const int count : {3, 10, 128}) {
        for (const int sector : {512, 4096}) {
            SCOPED_TRACE(std::to_string(count) + " partitions, " + std::to_string(sector) + "-byte sectors");
            const std::string image = dir.file("disk.img");
            fixtures::shell("rm -f '" + image + "' && truncate -s 64M '" + image + "'");
            std::string device = image, node;
            std::unique_ptr<fixtures::LoopDevice> loop;
            struct Detach {
                std::string node;
                ~Detach() {
                    if (!node.empty()) fixtures::shell("losetup -d '" + node + "' 2>/dev/null");
                }
            } detach;
            if (sector == 4096) {
                if (!fixtures::isRoot()) continue; // a 4096-byte sector disk needs a loop device
                if (fixtures::shell("losetup -f --show --sector-size 4096 '" + image + "' 2>/dev/null",
                                    &node) != 0)
                    continue;
                device = detach.node = node.substr(0, node.find('\n'));
            }
            std::string script = "sgdisk -o -a 8";
            const int step = sector == 512 ? 200 : 25; // sectors per partition
            for (int i = 1; i <= count; ++i)
                script += " -n " + std::to_string(i) + ":0:+" + std::to_string(step) + " -c " +
                          std::to_string(i) + ":p" + std::to_string(i);
            ASSERT_EQ(fixtures::shell(script + " '" + device + "' >/dev/null 2>&1"), 0);
            std::string listing;
            ASSERT_EQ(fixtures::shell("sgdisk -p '" + device + "' 2>/dev/null", &listing), 0);
            std::vector<std::string> expected;
            std::istringstream lines(listing.substr(listing.find("Number")));
            std::string line;
            std::getline(lines, line);
            while (std::getline(lines, line)) {
                std::istringstream f(line);
                std::string number, first, last;
                if (!(f >> number >> first >> last)) continue;
                expected.push_back(number + " " + first + " " +
                                   std::to_string(std::stoll(last) - std::stoll(first) + 1));
            }
            auto& system = platform::systemBackend();
            const auto r = ReadPartitionTable(system, device, "0", 0);
            std::vector<std::string> got;
            for (const auto& row : r.rows)
                if (row.kind == "GPT")
                    got.push_back(row.index + " " + row.startSector + " " + row.sectorCount);
            EXPECT_EQ(got, expected);
            EXPECT_EQ(int(got.size()), count);
            EXPECT_TRUE(r.notes.empty());
        }
    }
}

} // namespace
