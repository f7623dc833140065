// Which object a name leads to, and whether it is still the one a selection named: fingerprints
// of open streams, a loop device seen as the file it presents, and that file's writers kept away
// from a mounted loop device.

#include "platform/platform.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <thread>

using namespace platform;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

std::string fingerprintOf(Backend& backend, const std::string& name) {
    auto s = backend.open(name, OpenMode::Read);
    EXPECT_TRUE(s.ok()) << name << ": " << (s.ok() ? "" : s.error().text);
    return s.ok() ? (*s)->fingerprint() : std::string();
}

// The fingerprint behind the drive number that stands for `node`. Other tests attach and detach
// loop devices meanwhile, so the number is looked up again after the open.
std::optional<std::string> fingerprintByDriveNumber(const std::string& node) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        for (int i = 0; i < 1000; ++i) {
            const std::string n = systemBackend().physicalDriveNode(i);
            if (n.empty()) break;
            if (n != node) continue;
            const std::string fp = fingerprintOf(systemBackend(), physicalDriveName(i));
            if (systemBackend().physicalDriveNode(i) == node) return fp;
            break;
        }
    }
    return std::nullopt;
}

// Attaches an image at a node just detached. A detach waits while anyone still has the device
// open (a parallel test looking at every loop device, say), so the node may be busy for a moment.
std::unique_ptr<fixtures::LoopDevice> reattach(const std::string& image, const std::string& node) {
    for (int attempt = 0; attempt < 40; ++attempt) {
        auto loop = std::make_unique<fixtures::LoopDevice>(image, 0, node);
        if (loop->available()) return loop;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

TEST(Fingerprints, AFileIsItsInodeWhateverItsNameOrSize) {
    fixtures::TempDir dir;
    const std::string a = dir.file("a.img"), b = dir.file("b.img"), link = dir.file("a-link.img");
    fixtures::writePatternFile(a, 8192);
    fixtures::writePatternFile(b, 8192);
    std::filesystem::create_hard_link(a, link);
    Backend& os = systemBackend();

    const std::string fa = fingerprintOf(os, a);
    EXPECT_FALSE(fa.empty());
    EXPECT_NE(fa, fingerprintOf(os, b)) << "two files of the same size and bytes are two files";
    EXPECT_EQ(fa, fingerprintOf(os, link)) << "one file under two names is one file";
    fixtures::writePatternFile(a, 16384); // rewritten in place and grown: still the same file
    EXPECT_EQ(fa, fingerprintOf(os, a));
}

// A drive number keeps its fingerprint while it shows the same image as the same disk, and
// changes with anything that makes it another disk.
TEST(Fingerprints, AVirtualDriveIsItsImageShownAsADisk) {
    fixtures::TempDir dir;
    for (const char* name : {"a.img", "b.img", "a-copy.img"})
        fixtures::writePatternFile(dir.file(name), 1 << 20);
    struct Change {
        const char* what;
        void (*apply)(TestBackend&, const fixtures::TempDir&);
    };
    const Change changes[] = {
        {"another image of the same size and bytes",
         [](TestBackend& t, const fixtures::TempDir& d) { t.drive(0).imagePath = d.file("a-copy.img"); }},
        {"another sector size",
         [](TestBackend& t, const fixtures::TempDir&) { t.drive(0).bytesPerSector = 4096; }},
        {"the numbers moved down by one", [](TestBackend& t, const fixtures::TempDir&) { t.removeDrive(0); }},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        TestBackend t;
        t.addDrive(VirtualDrive{dir.file("a.img")});
        t.addDrive(VirtualDrive{dir.file("b.img")});
        const std::string before = fingerprintOf(t, physicalDriveName(0));
        EXPECT_FALSE(before.empty());
        EXPECT_EQ(before, fingerprintOf(t, physicalDriveName(0))) << "opened again, nothing changed";
        change.apply(t, dir);
        EXPECT_NE(before, fingerprintOf(t, physicalDriveName(0)));
    }
}

TEST(Fingerprints, ALoopDeviceIsItsNumberMediumAndBackingFile) {
    fixtures::TempDir dir;
    for (const char* name : {"a.img", "b.img", "c.img"})
        fixtures::writePatternFile(dir.file(name), 1 << 20);
    fixtures::LoopDevice a(dir.file("a.img"));
    if (!a.available()) GTEST_SKIP() << a.reason();
    fixtures::LoopDevice b(dir.file("b.img"));
    ASSERT_TRUE(b.available()) << b.reason();
    Backend& os = systemBackend();

    const std::string fa = fingerprintOf(os, a.node());
    EXPECT_FALSE(fa.empty());
    EXPECT_NE(fa, fingerprintOf(os, b.node())) << "two loop devices over images of one size";
    EXPECT_NE(fa, fingerprintOf(os, dir.file("a.img"))) << "the device is not its backing file";
    EXPECT_EQ(fa, fingerprintOf(os, a.node())) << "the same device opened again";
    const auto byNumber = fingerprintByDriveNumber(a.node());
    ASSERT_TRUE(byNumber) << a.node() << " has no drive number";
    EXPECT_EQ(fa, *byNumber) << "by drive number and by node";

    // Another image attached where a was: the name is the same, the device is not. And the same
    // image attached there again is a new medium, as a stick put in again is.
    const std::string node = a.node();
    a.detach();
    for (const char* image : {"c.img", "a.img"}) {
        SCOPED_TRACE(image);
        auto now = reattach(dir.file(image), node);
        if (!now) GTEST_SKIP() << "another test took " << node << " meanwhile";
        EXPECT_NE(fa, fingerprintOf(os, node));
        now->detach();
    }
}

// Which disk a name leads to: a partition node's whole disk, asked by name or of the open stream;
// nothing for a file, and a named pipe is not opened (that would wait for a writer).
TEST(DriveIdentities, APartitionNameLeadsToItsWholeDisk) {
    fixtures::TempDir dir;
    const std::string image = dir.file("disk.img"), pipe = dir.file("pipe");
    fixtures::writePatternFile(image, 8 << 20);
    fixtures::writeMbr(image, {{0x83, 2048, 4096}});
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    Backend& os = systemBackend();
    EXPECT_EQ(os.driveIdentity(image), std::nullopt);
    EXPECT_EQ(os.driveIdentity(pipe), std::nullopt);

    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    fixtures::PartitionNodes parts(loop.node());
    ASSERT_TRUE(parts.available());
    DriveIdentity disk;
    disk.node = loop.node();
    disk.bus = "loop";
    disk.size = 8 << 20;
    for (const std::string& name : {loop.node(), parts.node(1)}) {
        auto named = os.driveIdentity(name);
        ASSERT_TRUE(named) << name;
        disk.rotational = named->rotational; // as the kernel has it for loop devices
        EXPECT_EQ(*named, disk) << name;
        EXPECT_EQ((*os.open(name, OpenMode::Read))->driveIdentity(), named) << name;
    }
}

// A loop device reads and writes its backing file from its offset on, so it is that file: a copy
// between the two must see one object and compare ranges where they lie in the file.
TEST(LoopIdentity, ALoopDeviceIsTheFileItPresentsFromItsOffset) {
    constexpr int64_t kOffset = 1 << 20;       // where the loop device starts in the image
    constexpr int64_t kPartStart = 2048 * 512; // where partition 1 starts on the loop device
    fixtures::TempDir dir;
    const std::string image = dir.file("disk.img"), other = dir.file("other.img"), mbr = dir.file("mbr.bin");
    fixtures::writePatternFile(image, 8 << 20);
    fixtures::writePatternFile(other, 8 << 20);
    // A boot record at the loop device's sector 0, that is at kOffset in the image.
    fixtures::writePatternFile(mbr, 512);
    fixtures::writeMbr(mbr, {{0x83, 2048, 4096}});
    auto bytes = fixtures::readFile(image);
    const auto sector = fixtures::readFile(mbr);
    std::copy(sector.begin(), sector.end(), bytes.begin() + kOffset);
    fixtures::writeFile(image, bytes);

    fixtures::LoopDevice shifted(image, kOffset);
    if (!shifted.available()) GTEST_SKIP() << shifted.reason();
    fixtures::LoopDevice whole(image), elsewhere(other);
    ASSERT_TRUE(whole.available() && elsewhere.available());
    fixtures::PartitionNodes parts(shifted.node());
    Backend& os = systemBackend();
    TestBackend test;
    test.addDrive(VirtualDrive{shifted.node()});

    const std::string file = os.objectIdentity(image);
    ASSERT_FALSE(file.empty());
    struct Row {
        std::string name;
        int64_t offset;
    };
    std::vector<Row> rows = {{image, 0}, {whole.node(), 0}, {shifted.node(), kOffset}};
    if (parts.available())
        rows.push_back({parts.node(1), kOffset + kPartStart});
    else
        ADD_FAILURE() << "partx made no partition node for " << shifted.node();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(os.objectIdentity(row.name), file);
        EXPECT_EQ(os.objectOffset(row.name), row.offset);
    }
    EXPECT_EQ(os.objectIdentity(elsewhere.node()), os.objectIdentity(other));
    EXPECT_NE(os.objectIdentity(elsewhere.node()), file);
    // The test backend asks the system about what its drives show.
    EXPECT_EQ(test.objectIdentity(physicalDriveName(0)), file);
    EXPECT_EQ(test.objectOffset(physicalDriveName(0)), kOffset);
}

// Writing a file behind a mounted loop device would change a file system under the kernel's
// feet: the file's writers are refused while it is mounted and, once admitted, keep it unmounted.
TEST(LoopHold, TheBackingFileOfAMountedLoopDeviceIsNotWritten) {
    fixtures::TempDir dir;
    const std::string image = dir.file("ext4.img");
    fixtures::writeFile(image, std::vector<uint8_t>(16 << 20, 0));
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    // No lazy initialisation: nothing may write through the loop device while we compare bytes.
    if (fixtures::shell("mkfs.ext4 -q -F -E lazy_itable_init=0,lazy_journal_init=0 '" + loop.node() +
                        "' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mkfs.ext4 is not available";
    Backend& os = systemBackend();
    {
        fixtures::Mount mount(loop.node(), dir.file("mnt"), "ext4", MS_RDONLY);
        if (!mount.mounted()) GTEST_SKIP() << "cannot mount ext4 here: " << std::strerror(mount.error());
        const auto before = fixtures::readFile(image);
        for (OpenMode mode : {OpenMode::Write, OpenMode::ReadWrite, OpenMode::Create}) {
            SCOPED_TRACE(int(mode));
            auto refused = os.open(image, mode);
            ASSERT_FALSE(refused.ok());
            EXPECT_EQ(refused.error().code, EBUSY);
        }
        EXPECT_TRUE(fixtures::readFile(image) == before) << "a refused Create emptied or changed the file";
        EXPECT_TRUE(os.open(image, OpenMode::Read).ok()) << "readers are never refused";
    }

    // Unmounted: writers are let in, and while one writes nobody can mount the loop device.
    const auto before = fixtures::readFile(image);
    {
        auto writer = os.open(image, OpenMode::ReadWrite);
        ASSERT_TRUE(writer.ok()) << writer.error().text;
        fixtures::Mount meanwhile(loop.node(), dir.file("mnt"), "ext4", MS_RDONLY);
        EXPECT_FALSE(meanwhile.mounted()) << "mounted while the backing file was open for writing";
        EXPECT_EQ(meanwhile.error(), EBUSY);
        // Bytes 0 to 1023 of ext4 are unused: [256, 768) written, canaries on either side.
        const std::vector<uint8_t> data(512, 0xA5);
        ASSERT_EQ(*(*writer)->seek(256, SeekOrigin::Begin), 256);
        ASSERT_EQ(*(*writer)->write(data.data(), 512), 512);
        ASSERT_TRUE((*writer)->flush().ok());
    }
    auto after = fixtures::readFile(image);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i)
        ASSERT_EQ(after[i], (i >= 256 && i < 768) ? 0xA5 : before[i]) << "byte " << i;
    fixtures::Mount afterwards(loop.node(), dir.file("mnt"), "ext4", MS_RDONLY);
    EXPECT_TRUE(afterwards.mounted())
        << "the loop device stayed held after the writer closed: " << std::strerror(afterwards.error());
}

} // namespace
