// The selection record made from the typed rows of the three lists.

#include "discovery/selections.h"

#include <gtest/gtest.h>

namespace {

TEST(RowSelection, PhysicalDrive) {
    drives::DriveRow row;
    row.index = 0;
    row.size = 500107862016;
    row.identity = "blk:8:0";
    const TFileInfo info = selections::fromDrive(row);
    EXPECT_EQ(info.FileName, "\\\\.\\PHYSICALDRIVE0");
    EXPECT_EQ(info.Description, "Logical drive 0");
    EXPECT_EQ(info.DefaultName, "DRIVE_0");
    EXPECT_EQ(info.DefaultExt, ".drv");
    EXPECT_EQ(info.Size, 500107862016);
    EXPECT_EQ(info.Offset, 0);
    EXPECT_EQ(info.DisplayText, "LOGICAL DRIVE 0   ( 476940 MiB )");
    EXPECT_EQ(info.BaseSize, info.Size);
    EXPECT_EQ(info.DriveText, "0");
    EXPECT_TRUE(info.CanRead);
    EXPECT_TRUE(info.CanWrite);
    EXPECT_EQ(info.Identity, "blk:8:0");
}

TEST(RowSelection, PartitionOffsetCountsSectorsOf512Bytes) {
    PartitionEntry entry;
    entry.type = 0x0B;
    entry.firstSector = 63;
    entry.sectorCount = 1000000;
    const TFileInfo info = selections::fromPartition(MakePartitionRow(entry, 2, 0, true, "0"), "blk:8:0");
    EXPECT_EQ(info.Offset, 32256);
    EXPECT_EQ(info.BaseOffset, 32256);
    EXPECT_EQ(info.Size, 512000000);
    EXPECT_EQ(info.DefaultName, "DRIVE_0P2");
    EXPECT_EQ(info.DefaultExt, ".prt");
    EXPECT_EQ(info.FileName, "\\\\.\\PHYSICALDRIVE0");
    EXPECT_EQ(info.Description, "Logical drive 0 partition 2 offset: 32256 size: 512000000");
    EXPECT_EQ(info.DisplayText, "LOGICAL DRIVE 0 PARTITION 2   ( 488 MiB )");
    EXPECT_EQ(info.DriveText, "0");
    EXPECT_EQ(info.Identity, "blk:8:0");

    // Start sectors beyond 32 bits stay exact.
    entry.firstSector = 4294967295u;
    entry.sectorCount = 4294967295u;
    EXPECT_EQ(selections::fromPartition(MakePartitionRow(entry, 1, 0, true, "3"), "").Offset,
              4294967295LL * 512);
}

TEST(RowSelection, VolumeKindsDecideExtensionAndFlags) {
    const auto volume = [](const char* label, char letter, int type, int64_t bytes) {
        volumes::VolumeRow row;
        row.label = label;
        row.letter = letter;
        row.driveType = type;
        row.totalBytes = bytes;
        return selections::fromVolume(row);
    };
    const TFileInfo disk = volume("SYSTEM", 'C', platform::DriveFixed, 1048575);
    EXPECT_EQ(disk.FileName, "\\\\.\\C:");
    EXPECT_EQ(disk.Description, "C:\\");
    EXPECT_EQ(disk.DefaultName, "SYSTEM");
    EXPECT_EQ(disk.DefaultExt, ".raw");
    EXPECT_EQ(disk.Size, 1048575);
    EXPECT_EQ(disk.DisplayText, "Volume: C:\\ SYSTEM");
    EXPECT_EQ(disk.DriveText, "C:\\");
    EXPECT_TRUE(disk.CanRead && disk.CanWrite);

    const TFileInfo dvd = volume("CD", 'E', platform::DriveCdRom, 700000000);
    EXPECT_EQ(dvd.DefaultExt, ".iso");
    EXPECT_TRUE(dvd.CanRead);
    EXPECT_FALSE(dvd.CanWrite);

    const TFileInfo net = volume("share", 'Z', platform::DriveRemote, 0);
    EXPECT_FALSE(net.CanRead);
    EXPECT_FALSE(net.CanWrite);
}

} // namespace
