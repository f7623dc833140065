// The demo drive: its partition chain as the walk reads it, the boot code, the FAT32 volume as
// libblkid and fsck.fat see it, the text/binary/empty regions, and the drive it becomes.

#include "discovery/demo_drive.h"
#include "discovery/drives.h"
#include "discovery/partitions.h"
#ifndef _WIN32
#include "platform/linux/volumes_linux.h"
#endif
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

class DemoImage : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fixtures::TempDir;
        demo::writeDemoImage(path());
        bytes_ = new std::vector<uint8_t>(fixtures::readFile(path()));
    }
    static void TearDownTestSuite() {
        delete bytes_;
        delete dir_;
    }
    static std::string path() { return dir_->file("demo.img"); }
    static const std::vector<uint8_t>& bytes() { return *bytes_; }
    static const uint8_t* sector(uint32_t n) { return bytes_->data() + size_t(n) * 512; }
    static bool zero(uint32_t first, uint32_t end) {
        return std::all_of(sector(first), sector(end), [](uint8_t b) { return b == 0; });
    }

    static fixtures::TempDir* dir_;
    static std::vector<uint8_t>* bytes_;
};
fixtures::TempDir* DemoImage::dir_ = nullptr;
std::vector<uint8_t>* DemoImage::bytes_ = nullptr;

} // namespace

TEST_F(DemoImage, PartitionChainAsTheWalkReadsIt) {
    ASSERT_EQ(int64_t(bytes().size()), demo::kImageSize);
    TestBackend backend;
    backend.addDrive(VirtualDrive(path()));
    const auto walk = ReadPartitionTable(backend, platform::physicalDriveName(0), "0", 0);
    EXPECT_TRUE(walk.messages.empty());
    ASSERT_EQ(walk.rows.size(), 4u);
    const auto& r = walk.rows;
    EXPECT_EQ(r[0].boot, "*");
    EXPECT_EQ(r[0].type, "0C");
    EXPECT_EQ(r[0].startSector, "63");
    EXPECT_EQ(r[0].sectorCount, std::to_string(demo::kFatSectors));
    EXPECT_EQ(r[0].chsStart, "(C0 H1 S1)");
    EXPECT_EQ(r[1].type, "05");
    EXPECT_EQ(r[1].startSector, std::to_string(demo::kExtendedStart));
    EXPECT_EQ(r[1].sectorCount, std::to_string(demo::kExtendedSectors));
    EXPECT_EQ(r[2].kind, "Extended");
    EXPECT_EQ(r[2].type, "83");
    EXPECT_EQ(r[2].startSector, std::to_string(demo::kTextStart));
    EXPECT_EQ(r[3].type, "82");
    EXPECT_EQ(r[3].startSector, std::to_string(demo::kBinaryStart));
    EXPECT_EQ(r[3].sectorCount, std::to_string(demo::kLogicalSectors));
    // Everything lies inside the disk and nothing overlaps.
    EXPECT_LE(demo::kBinaryStart + demo::kLogicalSectors, demo::kEmptyTailStart);
    EXPECT_EQ(demo::kExtendedStart + demo::kExtendedSectors, uint32_t(demo::kImageSize / 512));
    EXPECT_EQ(backend.violations().size(), 0u);

    // sfdisk reads the same table.
    std::string dump;
    if (fixtures::shell("command -v sfdisk >/dev/null") == 0) {
        ASSERT_EQ(fixtures::shell("sfdisk -d '" + path() + "' 2>/dev/null", &dump), 0);
        EXPECT_NE(dump.find("start=          63, size=       73665, type=c, bootable"), std::string::npos)
            << dump;
        EXPECT_NE(dump.find("start=       90175, size=       16321, type=82"), std::string::npos) << dump;
    }
}

TEST_F(DemoImage, BootCodeIsRealCode) {
    const uint8_t* mbr = sector(0);
    EXPECT_EQ(mbr[510], 0x55);
    EXPECT_EQ(mbr[511], 0xAA);
    // cli; xor ax,ax; ... and the far jump to the copy at 0:061E.
    EXPECT_EQ(std::vector<uint8_t>(mbr, mbr + 3), (std::vector<uint8_t>{0xFA, 0x31, 0xC0}));
    EXPECT_EQ(std::vector<uint8_t>(mbr + 0x19, mbr + 0x1E),
              (std::vector<uint8_t>{0xEA, 0x1E, 0x06, 0x00, 0x00}));
    const std::string text(mbr, mbr + 446);
    for (const char* message :
         {"Invalid partition table", "Error loading operating system", "Missing operating system"})
        EXPECT_NE(text.find(message), std::string::npos) << message;
    // Each message the code points at (mov si, imm16 = BE lo hi, linked at 0600h) starts a message.
    for (size_t i = 0; i + 2 < 0x77; ++i) {
        if (mbr[i] != 0xBE) continue;
        const unsigned target = mbr[i + 1] | mbr[i + 2] << 8;
        if (target < 0x600 + 0x77 || target >= 0x600 + 446) continue;
        const char first = char(mbr[target - 0x600]);
        EXPECT_TRUE(first == 'I' || first == 'E' || first == 'M') << std::hex << target;
    }
    // The volume's boot sector jumps over its parameter block into its own code.
    const uint8_t* vbr = sector(demo::kFatStart);
    EXPECT_EQ(std::vector<uint8_t>(vbr, vbr + 3), (std::vector<uint8_t>{0xEB, 0x58, 0x90}));
    EXPECT_EQ(vbr[0x5A], 0xFA);

    if (fixtures::shell("command -v objdump >/dev/null") != 0) return;
    std::string listing;
    ASSERT_EQ(
        fixtures::shell("objdump -D -b binary -m i8086 -M intel --start-address=0 --stop-address=0x77 '" +
                            path() + "'",
                        &listing),
        0);
    EXPECT_NE(listing.find("rep movs"), std::string::npos);
    EXPECT_NE(listing.find("int    0x13"), std::string::npos);
    EXPECT_EQ(listing.find("(bad)"), std::string::npos) << listing;
}

TEST_F(DemoImage, Fat32VolumeIsValid) {
#ifdef _WIN32
    GTEST_SKIP()
        << "checked with libblkid and fsck.fat, which are Linux's (the image is the same everywhere)";
#else
    const int64_t offset = int64_t(demo::kFatStart) * 512, size = int64_t(demo::kFatSectors) * 512;
    const auto probe = platform::linuxvolumes::probeFileSystem(path(), offset, size);
    ASSERT_TRUE(probe.ok);
    EXPECT_EQ(probe.type, "vfat");
    EXPECT_EQ(probe.label, demo::kFatLabel);
    EXPECT_EQ(probe.uuid, "2024-C0DE");
    EXPECT_EQ(platform::linuxvolumes::serialFromUuid(probe.uuid, probe.type), demo::kFatVolumeId);

    if (fixtures::shell("command -v fsck.fat >/dev/null") != 0) GTEST_SKIP() << "fsck.fat is not installed";
    const std::string part = dir_->file("fat.img");
    fixtures::writeFile(part,
                        std::vector<uint8_t>(bytes().begin() + offset, bytes().begin() + offset + size));
    std::string report;
    EXPECT_EQ(fixtures::shell("fsck.fat -n -v -l '" + part + "' 2>&1", &report), 0) << report;
    EXPECT_NE(report.find("README.TXT"), std::string::npos) << report;
    EXPECT_EQ(report.find("differ"), std::string::npos) << report; // both FATs and boot copies agree
    std::string contents;
    if (fixtures::shell("command -v mtype >/dev/null") == 0) {
        fixtures::shell("mtype -i '" + part + "' ::README.TXT", &contents);
        EXPECT_EQ(contents, demo::readmeText());
    }
#endif
}

TEST_F(DemoImage, TextBinaryAndEmptyRegions) {
    const uint8_t* text = sector(demo::kTextStart);
    const size_t logical = size_t(demo::kLogicalSectors) * 512;
    EXPECT_TRUE(std::all_of(text, text + logical,
                            [](uint8_t b) { return b == '\r' || b == '\n' || (b >= 0x20 && b < 0x7F); }));
    EXPECT_EQ(std::string(text, text + 13), "Line 000001: ");

    const uint8_t* binary = sector(demo::kBinaryStart);
    std::set<uint8_t> values(binary, binary + 4096);
    EXPECT_EQ(values.size(), 256u);

    EXPECT_TRUE(zero(1, demo::kFatStart)); // between the boot record and partition 1
    EXPECT_TRUE(zero(demo::kEmptyTailStart, uint32_t(demo::kImageSize / 512))); // after the last partition
    EXPECT_TRUE(zero(demo::kExtendedStart + 1, demo::kTextStart));

    // The same bytes every time.
    const std::string again = dir_->file("again.img");
    demo::writeDemoImage(again);
    EXPECT_TRUE(fixtures::readFile(again) == bytes());
}

TEST(DemoDrive, ComesFirstAndGoesAwayWithTheProgram) {
    TestBackend system; // stands for the machine: one drive of its own
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("own.img"), 4 << 20);
    system.addDrive(VirtualDrive(dir.file("own.img")));

    std::string image;
    {
        demo::DemoDrive drive(system);
        image = drive.imagePath();
        EXPECT_TRUE(std::filesystem::exists(image));
        const auto rows = drives::scan(drive.backend());
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].size, demo::kImageSize);
        EXPECT_EQ(rows[1].size, 4 << 20); // the machine's drive 0 is now drive 1
        EXPECT_EQ(drive.backend().physicalDriveNode(1), dir.file("own.img"));
    }
    EXPECT_FALSE(std::filesystem::exists(image));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(image).parent_path()));
}

TEST(DemoDrive, TooSmallForFat32IsRefused) {
    std::ostringstream sink;
    EXPECT_THROW(demo::writeFat32(sink, 0, 60000, 63, "X", 1, "A.TXT", "a"), std::runtime_error);
}
