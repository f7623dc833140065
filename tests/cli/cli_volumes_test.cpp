// tarnwick-cli's volume list, volume selections and the demo drive.

#include "cli/cli.h"
#include "core/user_error.h"
#include "discovery/demo_drive.h"
#include "discovery/selections.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <sstream>

using platform::testkit::TestBackend;
using platform::testkit::VirtualVolume;

namespace {

struct Output {
    int status;
    std::string out, err;
};

Output runCli(platform::Backend& backend, const std::vector<std::string>& args) {
    std::istringstream in;
    std::ostringstream out, err;
    const int status = cli::run(args, backend, cli::Io{in, out, err, false, false});
    return {status, out.str(), err.str()};
}

TestBackend& withVolumes(TestBackend& backend) {
    VirtualVolume c;
    c.letter = 'C';
    c.driveType = platform::DriveFixed;
    c.info = {"SYSTEM", 0xDEADBEEF, 255, 0, "EXT4"};
    c.space = platform::FreeSpace{1 << 20, int64_t(3) << 30, int64_t(2) << 30};
    backend.addVolume(c);
    VirtualVolume d = c;
    d.letter = 'D';
    d.driveType = platform::DriveCdRom;
    d.info = {"DISC", 0x42, 110, 0, "ISO9660"};
    d.space.reset();
    backend.addVolume(d);
    return backend;
}

} // namespace

TEST(CliVolumes, ListsTheVolumesWithTheHiddenTypeNumberLast) {
    TestBackend backend;
    const Output r = runCli(withVolumes(backend), {"volumes"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        r.out,
        "Label\tStation\tDrive type\tFilesystem\tSize (MiB)\tAvailable\tSerial\tMax File name\tSize (bytes)\t"
        "Available (bytes)\tDrive type (number)\n"
        "SYSTEM\tC:\\\tHard disk\tEXT4\t3072\t2048\tDEADBEEF\t255 characters\t3221225472\t2147483648\t3\n"
        "DISC\tD:\\\tcdrom/dvd\tISO9660\t0\t0\t00000042\t110 characters\t0\t0\t5\n");
    EXPECT_EQ(runCli(backend, {"volumes", "C:"}).status, 2);
    EXPECT_NE(runCli(backend, {"--help"}).out.find("  volumes "), std::string::npos);
}

TEST(CliVolumes, VolumeSelectionsAreTheWindowsRecord) {
    TestBackend backend;
    withVolumes(backend);
    const TFileInfo c = selections::resolve(backend, "c:");
    EXPECT_EQ(c.FileName, "\\\\.\\C:");
    EXPECT_EQ(c.DefaultName, "SYSTEM");
    EXPECT_EQ(c.DefaultExt, ".raw");
    EXPECT_EQ(c.Size, int64_t(3) << 30);
    EXPECT_EQ(c.DisplayText, "Volume: C:\\ SYSTEM");
    EXPECT_EQ(c.DriveText, "C:\\");
    EXPECT_TRUE(c.CanWrite);
    backend.volume('D').space = platform::FreeSpace{0, 1 << 20, 0};
    const TFileInfo d = selections::resolve(backend, "D:\\", 446, 66);
    EXPECT_EQ(d.DefaultExt, ".iso");
    EXPECT_FALSE(d.CanWrite);
    EXPECT_EQ(d.Offset, 446);
    EXPECT_EQ(d.Description, "Volume: D:\\ DISC offset: 446 size: 66");

    EXPECT_THROW(selections::resolve(backend, "Q:"), UserError);
    const Output missing = runCli(backend, {"select", "A:"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "There is no volume A:.\n");
}

TEST(CliVolumes, DemoDriveComesFirst) {
    TestBackend machine; // one drive of its own
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("own.img"), 4 << 20);
    machine.addDrive(platform::testkit::VirtualDrive(dir.file("own.img")));

    const Output parts = runCli(machine, {"--demo", "partitions", "0"});
    EXPECT_EQ(parts.status, 0) << parts.err;
    EXPECT_NE(parts.out.find("1\t0\t*\t(C0 H1 S1)\t0C\t"), std::string::npos) << parts.out;
    EXPECT_NE(parts.out.find("\t90175\t16321\t"), std::string::npos) << parts.out;

    const Output drives = runCli(machine, {"drives", "--demo"});
    EXPECT_NE(drives.out.find("\n0\tFixed\t8\t255\t63\t512\t0\t67\t64\t67108864\t"), std::string::npos)
        << drives.out;
    EXPECT_NE(drives.out.find("\n1\tFixed\t0\t255\t63\t512\t0\t4\t4\t4194304\t"), std::string::npos)
        << drives.out;

    // Without the flag, the machine's drive is drive 0 again and no demo folder is left behind.
    EXPECT_NE(runCli(machine, {"drives"}).out.find("\n0\tFixed\t0\t255"), std::string::npos);
}
