// The physical drive list: size arithmetic, media types and the scan over numbered drives.

#include "discovery/drives.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

drives::DriveRow rowOfSize(int64_t size) {
    drives::DriveRow row;
    row.size = size;
    return row;
}

TEST(DriveSizes, GigabytesMegabytesMebibytes) {
    const auto big = rowOfSize(500107862016).texts();
    EXPECT_EQ(big[6], "500.1");
    EXPECT_EQ(big[7], "500107");
    EXPECT_EQ(big[8], "476940");
    EXPECT_EQ(big[9], "500107862016");
    EXPECT_EQ(rowOfSize(800000000).texts()[6], "0.8");
    EXPECT_EQ(rowOfSize(99999999).texts()[6], "0");
    EXPECT_EQ(rowOfSize(1000000000000).texts()[6], "1000") << "no trailing zero";
    EXPECT_EQ(rowOfSize(800000000).texts(',')[6], "0,8") << "the user's decimal separator";
    EXPECT_EQ(rowOfSize(0).texts()[6], "0");
}

TEST(DriveSizes, MegabyteCountsAre32BitAsShown) {
    // 2^31 MB and more wrap the way a 32-bit count does.
    const auto row = rowOfSize(int64_t(2147483648) * 1000000);
    EXPECT_EQ(row.sizeMB(), INT32_MIN);
    EXPECT_EQ(rowOfSize(int64_t(1) << 51).sizeMiB(), INT32_MIN);
}

TEST(DriveSizes, MediaTypeTexts) {
    EXPECT_EQ(drives::mediaTypeText(0), "Unknown");
    EXPECT_EQ(drives::mediaTypeText(1), "Floppy");
    EXPECT_EQ(drives::mediaTypeText(10), "Floppy");
    EXPECT_EQ(drives::mediaTypeText(11), "Removable");
    EXPECT_EQ(drives::mediaTypeText(12), "Fixed");
    EXPECT_EQ(drives::mediaTypeText(13), "Zip");
    EXPECT_EQ(drives::mediaTypeText(25), "Zip");
    EXPECT_EQ(drives::mediaTypeText(26), "Undefined");
    EXPECT_EQ(drives::mediaTypeText(-1), "Undefined");
}

class DriveScan : public testing::Test {
protected:
    std::string image(const std::string& name, int64_t size) {
        const std::string path = dir_.file(name);
        fixtures::writePatternFile(path, size);
        return path;
    }
    fixtures::TempDir dir_;
    TestBackend backend_;
};

TEST_F(DriveScan, RowsInNumberOrderWithGeometry) {
    backend_.addDrive(VirtualDrive(image("a.img", 64 << 20)));
    VirtualDrive removable(image("b.img", 4 << 20));
    removable.mediaType = 11;
    backend_.addDrive(removable);
    const auto rows = drives::scan(backend_);
    ASSERT_EQ(rows.size(), 2u);
    const auto a = rows[0].texts();
    EXPECT_EQ(a, (selection::Row{"0", "Fixed", "8", "255", "63", "512", "0", "67", "64", "67108864",
                                 "67108864", "65802240"}));
    EXPECT_EQ(rows[1].texts()[0], "1");
    EXPECT_EQ(rows[1].texts()[1], "Removable");
    EXPECT_EQ(rows[1].texts()[2], "0") << "less than one cylinder";
    EXPECT_EQ(backend_.openStreams(), 0) << "every drive is closed again";
}

TEST_F(DriveScan, TheScanEndsAtTheFirstDriveThatCannotBeOpened) {
    const std::string img = image("a.img", 1 << 20);
    for (int i = 0; i < 3; ++i)
        backend_.addDrive(VirtualDrive(img));
    backend_.drive(1).faults.failOpen = true;
    const auto rows = drives::scan(backend_);
    ASSERT_EQ(rows.size(), 1u) << "drive 2 is hidden behind the gap";
    EXPECT_EQ(rows[0].index, 0);
}

TEST_F(DriveScan, FailedQueriesFallBack) {
    VirtualDrive d(image("a.img", 64 << 20));
    d.faults.failGeometryEx = true;
    d.faults.failLength = true;
    backend_.addDrive(d);
    const auto t = drives::scan(backend_).at(0).texts();
    EXPECT_EQ(t[9], "65802240") << "size falls back to the geometry product";
    EXPECT_EQ(t[11], "65802240");
    EXPECT_EQ(t[10], "-1") << "a failed length query";
    EXPECT_EQ(t[8], "62");
}

TEST_F(DriveScan, AFailedPlainGeometryLeavesZerosButKeepsTheSize) {
    VirtualDrive d(image("a.img", 1 << 20));
    d.faults.failGeometry = true;
    backend_.addDrive(d);
    const auto row = drives::scan(backend_).at(0);
    EXPECT_EQ(row.cylinders, 0);
    EXPECT_EQ(row.geometrySize, 0);
    EXPECT_EQ(row.size, 1 << 20);
}

TEST_F(DriveScan, AtMostOneHundredDrives) {
    const std::string img = image("a.img", 4096);
    for (int i = 0; i < 101; ++i)
        backend_.addDrive(VirtualDrive(img));
    EXPECT_EQ(drives::scan(backend_).size(), 100u);
}

TEST(DriveScanOnLoopDevices, ListsTrueSizes) {
    fixtures::TempDir dir;
    const std::string image = dir.file("loop.img");
    fixtures::writePatternFile(image, 48 << 20);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    bool found = false;
    auto& system = platform::systemBackend();
    for (const auto& row : drives::scan(system)) {
        if (system.physicalDriveNode(row.index) != loop.node()) continue;
        found = true;
        EXPECT_EQ(row.size, 48 << 20);
        EXPECT_EQ(row.lengthInfo, 48 << 20);
        EXPECT_EQ(row.bytesPerSector, 512u);
        EXPECT_EQ(row.cylinders, (48 << 20) / (255 * 63 * 512));
    }
    // A machine disk that refuses to open ends the scan first; loop devices sort before it here.
    if (!found)
        GTEST_SKIP() << "the scan ended before " << loop.node() << " (an earlier drive refused to open)";
}

} // namespace
