// The volume list: rows from the test backend's virtual volumes, the label edit rules, the Linux
// letter assignment over mount tables, libblkid on image files, and (as root) a real ext4 mount.

#include "discovery/selections.h"
#include "discovery/volumes.h"
#include "platform/linux/volumes_linux.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

using platform::FreeSpace;
using platform::VolumeInfo;
using platform::testkit::TestBackend;
using platform::testkit::VirtualVolume;
namespace lv = platform::linuxvolumes;

namespace {

VirtualVolume volume(char letter, int type, const std::string& label, int64_t total, int64_t free) {
    VirtualVolume v;
    v.letter = letter;
    v.driveType = type;
    v.info.label = label;
    v.info.fileSystem = "NTFS";
    v.info.serial = 0x1234ABCD;
    v.info.maxComponentLength = 255;
    v.space = FreeSpace{free / 2, total, free};
    return v;
}

std::string letters(const std::vector<volumes::VolumeRow>& rows) {
    std::string s;
    for (const auto& r : rows)
        s += r.letter;
    return s;
}

} // namespace

TEST(VolumeList, RowsRunFromBToZAndAIsNeverAsked) {
    TestBackend backend;
    backend.addVolume(volume('A', platform::DriveRemovable, "FLOPPY", 1474560, 0));
    backend.addVolume(volume('Z', platform::DriveRemote, "SHARE", 1 << 30, 1 << 29));
    backend.addVolume(volume('C', platform::DriveFixed, "SYSTEM", int64_t(100) << 30, int64_t(40) << 30));
    backend.addVolume(volume('D', platform::DriveFixed, "DATA", int64_t(200) << 30, int64_t(1) << 30));
    VirtualVolume reader = volume('F', platform::DriveRemovable, "", 0, 0);
    reader.mediumPresent = false; // an empty card reader slot
    backend.addVolume(reader);

    EXPECT_EQ(letters(volumes::list(backend)), "CDZ");
    const auto& asked = backend.volumeQueries();
    EXPECT_EQ(std::string(asked.begin(), asked.end()), "ZYXWVUTSRQPONMLKJIHGFEDCB");

    // The scan hands rows over from Z down, so that each can go to the top of a growing list;
    // a false answer ends it.
    std::string seen;
    volumes::scan(backend, [&](const volumes::VolumeRow& row) {
        seen += row.letter;
        return row.letter != 'D';
    });
    EXPECT_EQ(seen, "ZD");
}

TEST(VolumeList, RowTextsAndTitles) {
    TestBackend backend;
    backend.addVolume(volume('C', platform::DriveFixed, "SYSTEM", 1048575, 1048575)); // just under 1 MiB
    VirtualVolume cd = volume('E', platform::DriveCdRom, "DISC", int64_t(700) << 20, 0);
    cd.info.serial = 0xAB;
    cd.info.fileSystem = "ISO9660";
    cd.info.maxComponentLength = 110;
    backend.addVolume(cd);
    VirtualVolume share = volume('Z', platform::DriveRemote, "SHARE", 1 << 30, 1 << 29);
    share.space.reset(); // the free-space query fails
    backend.addVolume(share);

    const auto rows = volumes::list(backend);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].texts(), (selection::Row{"SYSTEM", "C:\\", "Hard disk", "NTFS", "0", "0", "1234ABCD",
                                               "255 characters", "1048575", "1048575", "3"}));
    EXPECT_EQ(rows[1].texts(), (selection::Row{"DISC", "E:\\", "cdrom/dvd", "ISO9660", "700", "0", "000000AB",
                                               "110 characters", "734003200", "0", "5"}));
    EXPECT_EQ(rows[2].texts(), (selection::Row{"SHARE", "Z:\\", "Network", "NTFS", "0", "0", "1234ABCD",
                                               "255 characters", "0", "0", "4"}));
    EXPECT_EQ(
        volumes::columnTitles(),
        (std::vector<std::string>{"Label", "Station", "Drive type", "Filesystem", "Size (MiB)", "Available",
                                  "Serial", "Max File name", "Size (bytes)", "Available (bytes)"}));

    const std::vector<std::string> typeTexts{
        "Unknown drive type", "Has no root", "Removable", "Hard disk", "Network", "cdrom/dvd", "RAM Disk"};
    for (int t = 0; t <= 6; ++t)
        EXPECT_EQ(volumes::driveTypeText(t), typeTexts[size_t(t)]);
    EXPECT_EQ(volumes::driveTypeText(7), "Unknown drive type");
    EXPECT_EQ(volumes::driveTypeText(-1), "Unknown drive type");

    // A row's texts make the selection the window would make of it.
    const TFileInfo dvd = selections::fromVolume(rows[1]);
    EXPECT_EQ(dvd.FileName, "\\\\.\\E:");
    EXPECT_EQ(dvd.DefaultExt, ".iso");
    EXPECT_FALSE(dvd.CanWrite);
    EXPECT_EQ(dvd.Size, int64_t(700) << 20);
}

TEST(VolumeList, LabelEditRules) {
    TestBackend backend;
    backend.addVolume(volume('C', platform::DriveFixed, "SYSTEM", 1 << 30, 1 << 29));
    VirtualVolume locked = volume('D', platform::DriveFixed, "LOCKED", 1 << 30, 1 << 29);
    locked.labelChangeSucceeds = false;
    backend.addVolume(locked);
    backend.addVolume(volume('E', platform::DriveCdRom, "DISC", 1 << 30, 0));
    const auto rows = volumes::list(backend);
    ASSERT_EQ(rows.size(), 3u);

    EXPECT_TRUE(volumes::labelEditAllowed(rows[0].texts()));
    EXPECT_FALSE(volumes::labelEditAllowed(rows[2].texts()));

    EXPECT_EQ(volumes::commitLabel(backend, rows[0].texts(), "SYSTEM"), volumes::LabelEdit::Unchanged);
    EXPECT_TRUE(backend.labelChanges().empty()); // the same label makes no call

    EXPECT_EQ(volumes::commitLabel(backend, rows[0].texts(), "WINDOWS"), volumes::LabelEdit::Renamed);
    EXPECT_EQ(backend.volumeInformation('C')->label, "WINDOWS");
    EXPECT_EQ(volumes::commitLabel(backend, rows[1].texts(), "OTHER"), volumes::LabelEdit::Refused);
    EXPECT_EQ(backend.volumeInformation('D')->label, "LOCKED");
    EXPECT_EQ(backend.labelChanges(),
              (std::vector<std::pair<char, std::string>>{{'C', "WINDOWS"}, {'D', "OTHER"}}));
}

// --- Linux: letters over mount tables ---------------------------------------------------------

TEST(LinuxVolumes, MountTableParsing) {
    const auto mounts = lv::parseMounts("/dev/sda1 / ext4 rw,relatime 0 0\n"
                                        "garbage\n"
                                        "/dev/sdb1 /media/My\\040Disk vfat rw 0 0\n"
                                        "server:/a\\134b /mnt/x nfs4 ro 0 0\n"
                                        "tmpfs relative tmpfs rw 0 0\n");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0], (lv::MountEntry{"/dev/sda1", "/", "ext4", "rw,relatime"}));
    EXPECT_EQ(mounts[1].mountPoint, "/media/My Disk");
    EXPECT_EQ(mounts[2].source, "server:/a\\b");
}

TEST(LinuxVolumes, LettersGoToDeviceNetworkAndRamMountsByMountPoint) {
    const std::string table = "proc /proc proc rw 0 0\n"
                              "sysfs /sys sysfs rw 0 0\n"
                              "udev /dev devtmpfs rw 0 0\n"
                              "tmpfs /dev/shm tmpfs rw 0 0\n"
                              "tmpfs /run tmpfs rw 0 0\n"
                              "tmpfs /run/user/1000 tmpfs rw 0 0\n"
                              "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
                              "/dev/sda2 / ext4 rw 0 0\n"
                              "/dev/sda3 /home ext4 rw 0 0\n"
                              "/dev/sda1 /boot/efi vfat rw 0 0\n"
                              "/dev/loop7 /snap/core/123 squashfs ro 0 0\n"
                              "overlay /var/lib/docker/overlay2/x/merged overlay rw 0 0\n"
                              "tmpfs /tmp tmpfs rw 0 0\n"
                              "server:/export /mnt/nfs nfs4 rw 0 0\n"
                              "me@host:/ /mnt/ssh fuse.sshfs rw 0 0\n"
                              "/dev/sr0 /media/cd iso9660 ro 0 0\n"
                              "/dev/sdb1 /run/media/me/STICK vfat rw 0 0\n"
                              "/dev/sda3 /srv ext4 rw 0 0\n" // a bind mount of /home's device
                              "/dev/sdc1 /mnt/over ext4 rw 0 0\n"
                              "/dev/sdd1 /mnt/over xfs rw 0 0\n"; // mounted over the line before
    const auto probe = [](const std::string& source) {
        lv::DeviceFacts f;
        f.removable = source == "/dev/sdb1";
        f.optical = source == "/dev/sr0";
        return f;
    };
    const auto vols = lv::assignLetters(lv::parseMounts(table), probe);
    std::vector<std::tuple<char, std::string, int>> got;
    for (const auto& v : vols)
        got.emplace_back(v.letter, v.mount.mountPoint, v.driveType);
    const std::vector<std::tuple<char, std::string, int>> expected{
        {'C', "/", 3},        {'D', "/boot/efi", 3}, {'E', "/home", 3},    {'F', "/media/cd", 5},
        {'G', "/mnt/nfs", 4}, {'H', "/mnt/over", 3}, {'I', "/mnt/ssh", 4}, {'J', "/run/media/me/STICK", 2},
        {'K', "/tmp", 6}};
    EXPECT_EQ(got, expected);
    EXPECT_EQ(vols[5].mount.source, "/dev/sdd1"); // the topmost mount of /mnt/over

    // An ISO image on a loop device is optical too, by its file system.
    const auto iso =
        lv::assignLetters(lv::parseMounts("/dev/vda / ext4 rw 0 0\n/dev/loop0 /mnt/iso udf ro 0 0\n"), {});
    ASSERT_EQ(iso.size(), 2u);
    EXPECT_EQ(iso[1].driveType, platform::DriveCdRom);
}

TEST(LinuxVolumes, RootIsCInAContainerAndLettersStopAtZ) {
    std::string table = "overlay / overlay rw 0 0\n";
    for (int i = 0; i < 30; ++i)
        table += "tmpfs /data/t" + std::to_string(100 + i) + " tmpfs rw 0 0\n";
    const auto vols = lv::assignLetters(lv::parseMounts(table), {});
    ASSERT_EQ(vols.size(), 24u); // C to Z
    EXPECT_EQ(vols.front().letter, 'C');
    EXPECT_EQ(vols.front().driveType, platform::DriveFixed);
    EXPECT_EQ(vols.back().letter, 'Z');
    EXPECT_EQ(vols.back().mount.mountPoint, "/data/t122");

    // Without "/" in the table, C: stays free.
    const auto noRoot = lv::assignLetters(lv::parseMounts("/dev/sdb1 /mnt ext4 rw 0 0\n"), {});
    ASSERT_EQ(noRoot.size(), 1u);
    EXPECT_EQ(noRoot[0].letter, 'D');
}

TEST(LinuxVolumes, SerialNumbersFromUuids) {
    EXPECT_EQ(lv::serialFromUuid("0d3f1c2a-9b7e-4c1d-8f00-1234567890ab", "ext4"), 0x0D3F1C2Au);
    EXPECT_EQ(lv::serialFromUuid("1234-ABCD", "vfat"), 0x1234ABCDu);
    EXPECT_EQ(lv::serialFromUuid("5A3E4F1B3E4EF2D1", "ntfs"), 0x3E4EF2D1u); // the low half, as shown
    EXPECT_EQ(lv::serialFromUuid("", "ext4"), 0u);
    EXPECT_EQ(lv::serialFromUuid("abc", "ext4"), 0xABCu);
}

TEST(LinuxVolumes, LabelToolsGetTheirArgumentsAsTheyStand) {
    EXPECT_EQ(lv::labelCommand("ext4", "/dev/sdb1", "-n x"),
              (std::vector<std::string>{"e2label", "/dev/sdb1", "-n x"}));
    EXPECT_EQ(lv::labelCommand("vfat", "/dev/sdb1", "-r"),
              (std::vector<std::string>{"fatlabel", "--", "/dev/sdb1", "-r"}));
    EXPECT_EQ(lv::labelCommand("vfat", "/dev/sdb1", ""),
              (std::vector<std::string>{"fatlabel", "--reset", "--", "/dev/sdb1"}));
    EXPECT_EQ(lv::labelCommand("ntfs3", "/dev/sdb1", "A"),
              (std::vector<std::string>{"ntfslabel", "--", "/dev/sdb1", "A"}));
    EXPECT_TRUE(lv::labelCommand("xfs", "/dev/sdb1", "A").empty());
    EXPECT_TRUE(lv::labelCommand("tmpfs", "tmpfs", "A").empty());

    // No shell: a name full of shell syntax arrives as one argument, and runs nothing.
    fixtures::TempDir dir;
    const std::string name = dir.file("a; touch pwned $(touch pwned2) `x`");
    ASSERT_TRUE(lv::runProgram({"touch", name}).ok());
    EXPECT_TRUE(std::filesystem::exists(name));
    EXPECT_FALSE(std::filesystem::exists(dir.file("pwned")));
    EXPECT_FALSE(std::filesystem::exists("pwned2"));

    EXPECT_TRUE(lv::runProgram({"true"}).ok());
    const auto failed = lv::runProgram({"ls", dir.file("missing")});
    ASSERT_FALSE(failed.ok());
    EXPECT_NE(failed.error().text.find("missing"), std::string::npos); // the tool's own complaint
    const auto absent = lv::runProgram({"no-such-tool-tarnwick"});
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error().code, ENOENT);

    // A tool planted in the current folder is never found, whatever PATH says.
    const std::string planted = dir.file("e2label-planted");
    fixtures::writeFile(planted, {'#', '!', '/', 'b', 'i', 'n', '/', 's', 'h', '\n'});
    std::filesystem::permissions(planted, std::filesystem::perms::owner_all);
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    for (const char* entries : {":", ".", "bin:.."}) {
        ::setenv("PATH", entries, 1);
        EXPECT_EQ(lv::findProgram("e2label-planted"), "") << entries;
    }
    EXPECT_EQ(lv::findProgram("./e2label-planted"), "");
    ::setenv("PATH", (dir.path().string() + ":" + path).c_str(), 1);
    EXPECT_EQ(lv::findProgram("e2label-planted"), planted) << "an absolute folder is taken";
    ::setenv("PATH", path.c_str(), 1);
    std::filesystem::current_path(here);
}

TEST(LinuxVolumes, FreeSpaceOfARootIsItsMountPoint) {
    const auto c = lv::findVolume('C');
    if (!c || c->mount.mountPoint != "/") GTEST_SKIP() << "this machine's mount table has no \"/\"";
    struct statvfs st {};
    ASSERT_EQ(::statvfs("/", &st), 0);
    const auto space = lv::freeSpace("C:\\");
    ASSERT_TRUE(space.ok());
    EXPECT_EQ(space->total, int64_t(st.f_blocks) * int64_t(st.f_frsize));
    EXPECT_TRUE(lv::freeSpace("c:").ok());
    // Letters beyond the last volume have no root and no free space.
    const auto vols = lv::currentVolumes();
    if (vols.back().letter < 'Z') {
        EXPECT_FALSE(lv::freeSpace(std::string(1, char(vols.back().letter + 1)) + ":\\").ok());
    }
    EXPECT_TRUE(lv::freeSpace("/").ok()); // plain paths as before
    EXPECT_EQ(lv::driveType('A'), platform::DriveNoRoot);
    EXPECT_FALSE(lv::volumeInformation('A').ok());
}

// --- libblkid on image files (no root needed) -------------------------------------------------

TEST(LinuxVolumes, LabelsAndSerialsFromImageFiles) {
    fixtures::TempDir dir;
    const std::string ext4 = dir.file("ext4.img"), fat = dir.file("fat.img");
    if (fixtures::shell("command -v mkfs.ext4 >/dev/null && command -v mkfs.vfat >/dev/null") != 0)
        GTEST_SKIP() << "mkfs.ext4 and mkfs.vfat are needed";
    ASSERT_EQ(
        fixtures::shell("truncate -s 16M '" + ext4 + "' && mkfs.ext4 -q -F -L TWEXT '" + ext4 + "' 2>&1"), 0);
    ASSERT_EQ(fixtures::shell("mkfs.vfat -C -n TWFAT -i 1234ABCD '" + fat + "' 8192 >/dev/null 2>&1"), 0);

    const auto e = lv::probeFileSystem(ext4);
    ASSERT_TRUE(e.ok);
    EXPECT_EQ(e.type, "ext4");
    EXPECT_EQ(e.label, "TWEXT");
    std::string uuid;
    fixtures::shell("blkid -o value -s UUID '" + ext4 + "'", &uuid);
    uuid = uuid.substr(0, uuid.find('\n'));
    EXPECT_EQ(e.uuid, uuid);
    EXPECT_EQ(lv::serialFromUuid(e.uuid, e.type), uint32_t(std::stoul(uuid.substr(0, 8), nullptr, 16)));

    const auto f = lv::probeFileSystem(fat);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.type, "vfat");
    EXPECT_EQ(f.label, "TWFAT");
    EXPECT_EQ(f.uuid, "1234-ABCD");
    EXPECT_EQ(lv::serialFromUuid(f.uuid, f.type), 0x1234ABCDu);

    // A byte range of a bigger file: the FAT image placed 1 MiB in.
    const std::string both = dir.file("both.img");
    ASSERT_EQ(fixtures::shell("truncate -s 1M '" + both + "' && cat '" + fat + "' >> '" + both + "'"), 0);
    EXPECT_FALSE(lv::probeFileSystem(both).ok);
    EXPECT_EQ(lv::probeFileSystem(both, 1 << 20).label, "TWFAT");
    EXPECT_FALSE(lv::probeFileSystem(dir.file("none.img")).ok);
}

// --- a real mount (root) -----------------------------------------------------------------------

namespace {

// Mounts a device on a folder for one test and unmounts it again.
class Mount {
public:
    Mount(const std::string& device, const std::string& folder) : folder_(folder) {
        std::filesystem::create_directories(folder);
        mounted_ = ::mount(device.c_str(), folder.c_str(), "ext4", 0, nullptr) == 0;
    }
    ~Mount() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    std::string folder_;
    bool mounted_ = false;
};

} // namespace

TEST(LinuxVolumes, AMountedExt4VolumeGetsALetter) {
    fixtures::TempDir dir;
    const std::string image = dir.file("vol.img");
    if (fixtures::shell("command -v mkfs.ext4 >/dev/null") != 0) GTEST_SKIP() << "mkfs.ext4 is needed";
    ASSERT_EQ(
        fixtures::shell("truncate -s 32M '" + image + "' && mkfs.ext4 -q -F -L TWMOUNT '" + image + "' 2>&1"),
        0);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    const std::string folder = dir.file("mnt");
    Mount mount(loop.node(), folder);
    if (!mount.mounted()) GTEST_SKIP() << "mounting ext4 failed here";

    platform::Backend& system = platform::systemBackend();
    std::optional<lv::Volume> ours;
    for (const auto& v : lv::currentVolumes())
        if (v.mount.mountPoint == folder) ours = v;
    if (!ours) GTEST_SKIP() << "every letter up to Z is taken on this machine";
    const char letter = ours->letter;

    EXPECT_EQ(system.driveType(letter), platform::DriveFixed);
    EXPECT_EQ(system.volumeRoot(letter), folder);
    const auto info = system.volumeInformation(letter);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->label, "TWMOUNT");
    EXPECT_EQ(info->fileSystem, "EXT4");
    EXPECT_EQ(info->maxComponentLength, 255u);
    EXPECT_EQ(info->serial, lv::serialFromUuid(lv::probeFileSystem(image).uuid, "ext4"));
    const auto space = system.freeSpace(std::string(1, letter) + ":\\");
    ASSERT_TRUE(space.ok());
    EXPECT_GT(space->total, 20 << 20);
    EXPECT_LE(space->total, 32 << 20);

    // The list shows it like any other volume.
    const auto rows = volumes::list(system);
    const auto row =
        std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.letter == letter; });
    ASSERT_NE(row, rows.end());
    EXPECT_EQ(row->texts()[0], "TWMOUNT");
    EXPECT_EQ(row->texts()[3], "EXT4");
    // Its size is the device's, so that an image of the volume holds the whole file system.
    EXPECT_EQ(row->totalBytes, 32 << 20);
    EXPECT_EQ(selections::fromVolume(*row).Size, 32 << 20);
    EXPECT_EQ(row->freeBytes, space->totalFree) << "free space stays the file system's";

    // "\\.\X:" is the mounted block device: readable, but not writable behind the kernel's back.
    const std::string name = std::string("\\\\.\\") + letter + ":";
    auto stream = system.open(name, platform::OpenMode::Read);
    ASSERT_TRUE(stream.ok()) << stream.error().text;
    EXPECT_EQ(*(*stream)->length(), 32 << 20);
    EXPECT_FALSE(system.open(name, platform::OpenMode::ReadWrite).ok());

    // Renaming runs e2label on the device.
    ASSERT_TRUE(system.setVolumeLabel(letter, "RENAMED").ok());
    EXPECT_EQ(system.volumeInformation(letter)->label, "RENAMED");
    EXPECT_EQ(volumes::commitLabel(system, row->texts(), "-odd name"), volumes::LabelEdit::Renamed);
    EXPECT_EQ(system.volumeInformation(letter)->label, "-odd name");
}
