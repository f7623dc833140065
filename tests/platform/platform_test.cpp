// The platform layer's contract, run against every backend that presents bytes: a plain file,
// an image file shown as a numbered drive by the test backend, and a real loop device.

#include "platform/image_drives.h"
#include "platform/linux/sysfs.h"
#include "platform/platform.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <thread>

using namespace platform;
using fixtures::patternByte;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

constexpr int64_t kImageSize = 4 * 1024 * 1024;

enum class Kind { File, VirtualDrive, LoopDevice };

std::string kindName(const testing::TestParamInfo<Kind>& info) {
    switch (info.param) {
    case Kind::File:
        return "File";
    case Kind::VirtualDrive:
        return "VirtualDrive";
    case Kind::LoopDevice:
        return "LoopDevice";
    }
    return "";
}

class StreamContract : public testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        image_ = dir_.file("disk.img");
        fixtures::writePatternFile(image_, kImageSize);
        switch (GetParam()) {
        case Kind::File:
            name_ = image_;
            break;
        case Kind::VirtualDrive:
            test_.addDrive(VirtualDrive{image_});
            name_ = physicalDriveName(0);
            break;
        case Kind::LoopDevice:
            loop_ = std::make_unique<fixtures::LoopDevice>(image_);
            if (!loop_->available()) GTEST_SKIP() << loop_->reason();
            name_ = loop_->node();
            break;
        }
    }
    Backend& backend() {
        return GetParam() == Kind::VirtualDrive ? static_cast<Backend&>(test_) : systemBackend();
    }
    std::unique_ptr<RawStream> open(OpenMode mode) {
        auto s = backend().open(name_, mode);
        EXPECT_TRUE(s.ok()) << (s.ok() ? "" : s.error().text);
        return s.ok() ? std::move(*s) : nullptr;
    }
    bool isDisk() const { return GetParam() != Kind::File; }

    fixtures::TempDir dir_;
    std::string image_;
    std::string name_;
    TestBackend test_;
    std::unique_ptr<fixtures::LoopDevice> loop_;
};

TEST_P(StreamContract, ReadsSeeksAndReportsLength) {
    auto s = open(OpenMode::Read);
    ASSERT_TRUE(s);
    EXPECT_EQ(*s->length(), kImageSize);
    EXPECT_EQ(*s->position(), 0);

    std::vector<uint8_t> buf(10000);
    ASSERT_EQ(*s->read(buf.data(), 10000), 10000);
    for (int i = 0; i < 10000; ++i)
        ASSERT_EQ(buf[size_t(i)], patternByte(i)) << i;
    EXPECT_EQ(*s->position(), 10000);

    // 64-bit seeks from each origin, all reported from the start.
    EXPECT_EQ(*s->seek(1000, SeekOrigin::Current), 11000);
    EXPECT_EQ(*s->seek(-4096, SeekOrigin::End), kImageSize - 4096);
    EXPECT_EQ(*s->seek(512, SeekOrigin::Begin), 512);
    ASSERT_EQ(*s->read(buf.data(), 1), 1);
    EXPECT_EQ(buf[0], patternByte(512));

    // At the end a read comes up short, then empty; neither is an error.
    ASSERT_EQ(*s->seek(kImageSize - 100, SeekOrigin::Begin), kImageSize - 100);
    EXPECT_EQ(*s->read(buf.data(), 8192), 100);
    EXPECT_EQ(*s->read(buf.data(), 8192), 0);
}

TEST_P(StreamContract, WritesOnlyTheBytesAsked) {
    {
        auto s = open(OpenMode::ReadWrite);
        ASSERT_TRUE(s);
        const std::vector<uint8_t> data(3000, 0xA5);
        ASSERT_EQ(*s->seek(70000, SeekOrigin::Begin), 70000);
        EXPECT_EQ(*s->write(data.data(), 3000), 3000);
        EXPECT_TRUE(s->flush().ok());
    }
    const auto bytes = fixtures::readFile(image_);
    ASSERT_EQ(int64_t(bytes.size()), kImageSize);
    for (int64_t i = 0; i < kImageSize; ++i) {
        const uint8_t want = (i >= 70000 && i < 73000) ? 0xA5 : patternByte(i);
        ASSERT_EQ(bytes[size_t(i)], want) << "byte " << i;
    }
}

TEST_P(StreamContract, ReadOnlyStreamRefusesWrites) {
    auto s = open(OpenMode::Read);
    ASSERT_TRUE(s);
    const char c = 0;
    EXPECT_FALSE(s->write(&c, 1).ok());
    EXPECT_EQ(fixtures::readFile(image_)[0], patternByte(0));
}

TEST_P(StreamContract, DiskQueriesDescribeTheSize) {
    auto s = open(OpenMode::Read);
    ASSERT_TRUE(s);
    if (!isDisk()) {
        // A plain file is no disk: the queries fail rather than invent a geometry.
        EXPECT_FALSE(s->geometryEx().ok());
        EXPECT_FALSE(s->lengthInfo().ok());
        return;
    }
    auto ex = s->geometryEx();
    ASSERT_TRUE(ex.ok());
    EXPECT_EQ(ex->diskSize, kImageSize);
    EXPECT_EQ(ex->geometry.tracksPerCylinder, 255u);
    EXPECT_EQ(ex->geometry.sectorsPerTrack, 63u);
    EXPECT_EQ(ex->geometry.bytesPerSector, 512u);
    EXPECT_EQ(ex->geometry.cylinders, kImageSize / (255 * 63 * 512));
    EXPECT_EQ(ex->geometry.mediaType, 12);
    EXPECT_EQ(*s->lengthInfo(), kImageSize);
    EXPECT_EQ(s->geometry()->cylinders, ex->geometry.cylinders);
}

INSTANTIATE_TEST_SUITE_P(Backends, StreamContract,
                         testing::Values(Kind::File, Kind::VirtualDrive, Kind::LoopDevice), kindName);

TEST(Names, PhysicalDriveAndVolumeNames) {
    EXPECT_EQ(physicalDriveName(3), "\\\\.\\PHYSICALDRIVE3");
    EXPECT_EQ(parsePhysicalDriveName("\\\\.\\PHYSICALDRIVE12"), 12);
    EXPECT_EQ(parsePhysicalDriveName("\\\\.\\physicaldrive0"), 0);
    EXPECT_FALSE(parsePhysicalDriveName("\\\\.\\PHYSICALDRIVE"));
    EXPECT_FALSE(parsePhysicalDriveName("\\\\.\\PHYSICALDRIVE1a"));
    EXPECT_FALSE(parsePhysicalDriveName("\\\\.\\PHYSICALDRIVE1000"));
    EXPECT_FALSE(parsePhysicalDriveName("/dev/sda"));
    EXPECT_EQ(parseVolumeName("\\\\.\\c:"), 'C');
    EXPECT_FALSE(parseVolumeName("\\\\.\\C:\\"));
    EXPECT_FALSE(parseVolumeName("C:"));
    EXPECT_FALSE(parseVolumeName("\\\\.\\1:"));
}

TEST(ByteRangeTest, InvariantOverlapAndContainment) {
    EXPECT_FALSE(ByteRange::make(-1, 10));
    EXPECT_FALSE(ByteRange::make(0, -1));
    EXPECT_FALSE(ByteRange::make(INT64_MAX, 1));
    EXPECT_TRUE(ByteRange::make(INT64_MAX - 1, 1));

    const ByteRange a = ByteRange::of(0, 512), b = ByteRange::of(512, 512), c = ByteRange::of(511, 2),
                    empty = ByteRange::of(100, 0);
    EXPECT_FALSE(a.overlaps(b)) << "ranges that only touch do not overlap";
    EXPECT_TRUE(a.overlaps(c));
    EXPECT_TRUE(c.overlaps(b));
    EXPECT_FALSE(a.overlaps(empty));
    EXPECT_TRUE(ByteRange::of(0, 1024).contains(b));
    EXPECT_FALSE(a.contains(c));
}

TEST(ModernGeometry, CylindersFromSize) {
    const auto g = modernGeometry(500107862016, 512, 12);
    EXPECT_EQ(g.cylinders, 60801);
    EXPECT_EQ(g.product(), int64_t(60801) * 255 * 63 * 512);
    EXPECT_EQ(modernGeometry(1000, 512, 11).cylinders, 0);
    EXPECT_EQ(modernGeometry(int64_t(255) * 63 * 4096 * 10, 4096, 12).cylinders, 10);
}

TEST(FileLocking, WritersExcludeEachOtherButNotReaders) {
    fixtures::TempDir dir;
    const std::string file = dir.file("locked.img");
    fixtures::writePatternFile(file, 4096);
    auto writer = systemBackend().open(file, OpenMode::ReadWrite);
    ASSERT_TRUE(writer.ok());
    EXPECT_FALSE(systemBackend().open(file, OpenMode::Write).ok());
    // Create must not empty a file someone else is writing.
    EXPECT_FALSE(systemBackend().open(file, OpenMode::Create).ok());
    EXPECT_EQ(fixtures::readFile(file).size(), 4096u);
    EXPECT_TRUE(systemBackend().open(file, OpenMode::Read).ok());
}

TEST(FileCreate, ReplacesAndTruncates) {
    fixtures::TempDir dir;
    const std::string file = dir.file("new.raw");
    fixtures::writePatternFile(file, 10000);
    auto s = systemBackend().open(file, OpenMode::Create);
    ASSERT_TRUE(s.ok());
    EXPECT_EQ(*(*s)->length(), 0);
    const std::vector<uint8_t> data(16384, 7);
    EXPECT_EQ(*(*s)->write(data.data(), 16384), 16384);
    EXPECT_TRUE((*s)->truncate(10000).ok());
    EXPECT_EQ(*(*s)->length(), 10000);
    s = Error{};
    EXPECT_EQ(fixtures::readFile(file).size(), 10000u);

    EXPECT_FALSE(systemBackend().open(dir.file("missing"), OpenMode::Read).ok());
    auto missing = systemBackend().open(dir.file("missing"), OpenMode::ReadWrite);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().code, ENOENT);
    EXPECT_FALSE(missing.error().text.empty());
    EXPECT_FALSE(systemBackend().open(dir.path().string(), OpenMode::Read).ok()) << "a folder is no stream";
}

TEST(SysfsDisks, OrderAndFilter) {
    fixtures::TempDir dir;
    const auto add = [&](const std::string& name, const std::string& size) {
        std::filesystem::create_directories(dir.path() / name);
        std::ofstream(dir.path() / name / "size") << size << "\n";
    };
    add("sdb", "100");
    add("loop10", "8");
    add("loop2", "8");
    add("loop3", "0"); // nothing attached
    add("ram0", "8192");
    add("zram0", "8192");
    add("sda", "100");
    add("nvme0n1", "100");
    add("cciss!c0d0", "100");
    std::vector<std::string> names, nodes;
    for (const auto& d : sysfs::listDisks(dir.path().string())) {
        names.push_back(d.name);
        nodes.push_back(d.node);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"cciss!c0d0", "loop2", "loop10", "nvme0n1", "sda", "sdb"}));
    EXPECT_EQ(nodes.front(), "/dev/cciss/c0d0");
    EXPECT_EQ(nodes.back(), "/dev/sdb");
}

// --- The test backend's own promises: faults happen where asked and out-of-range writes are
// caught, so the tests that rely on it can trust it.

class TestBackendFaults : public testing::Test {
protected:
    void SetUp() override {
        image_ = dir_.file("d.img");
        fixtures::writePatternFile(image_, 1 << 20);
    }
    fixtures::TempDir dir_;
    std::string image_;
    TestBackend backend_;
};

TEST_F(TestBackendFaults, DrivesAreNumberedAndEndAtAGap) {
    backend_.addDrive(VirtualDrive{image_});
    backend_.addDrive(VirtualDrive{image_});
    EXPECT_TRUE(backend_.open(physicalDriveName(1), OpenMode::Read).ok());
    EXPECT_FALSE(backend_.open(physicalDriveName(2), OpenMode::Read).ok());
    backend_.drive(1).faults.failOpen = true;
    EXPECT_FALSE(backend_.open(physicalDriveName(1), OpenMode::Read).ok());
    EXPECT_FALSE(backend_.open(physicalDriveName(0), OpenMode::Create).ok());
    EXPECT_EQ(backend_.physicalDriveNode(0), image_);
}

TEST_F(TestBackendFaults, ReadErrorEndAndShortWrite) {
    VirtualDrive d{image_};
    d.faults.readErrorAt = 8192 * 3 + 5;
    d.faults.shortWriteAt = 100000;
    d.faults.endsAt = 200000;
    backend_.addDrive(d);
    auto s = std::move(*backend_.open(physicalDriveName(0), OpenMode::ReadWrite));
    std::vector<uint8_t> buf(8192);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(*s->read(buf.data(), 8192), 8192);
    auto failed = s->read(buf.data(), 8192);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().code, EIO);

    ASSERT_EQ(*s->seek(200000 - 10, SeekOrigin::Begin), 200000 - 10);
    EXPECT_EQ(*s->read(buf.data(), 8192), 10) << "the device ends early";
    EXPECT_EQ(*s->length(), 1 << 20) << "although its size says more";

    ASSERT_EQ(*s->seek(100000 - 100, SeekOrigin::Begin), 100000 - 100);
    EXPECT_EQ(*s->write(buf.data(), 8192), 100);
    auto full = s->write(buf.data(), 8192);
    ASSERT_FALSE(full.ok());
    EXPECT_EQ(full.error().code, ENOSPC);
}

TEST_F(TestBackendFaults, WritesOutsideTheAllowedRangeAreRecorded) {
    VirtualDrive d{image_};
    d.writable = ByteRange::of(4096, 4096);
    backend_.addDrive(d);
    {
        auto s = std::move(*backend_.open(physicalDriveName(0), OpenMode::Write));
        EXPECT_EQ(backend_.openStreams(), 1);
        std::vector<uint8_t> buf(4096, 1);
        ASSERT_EQ(*s->seek(4096, SeekOrigin::Begin), 4096);
        EXPECT_EQ(*s->write(buf.data(), 4096), 4096);
        EXPECT_TRUE(backend_.violations().empty());
        EXPECT_FALSE(s->write(buf.data(), 1).ok());
        ASSERT_EQ(*s->seek(4095, SeekOrigin::Begin), 4095);
        EXPECT_FALSE(s->write(buf.data(), 2).ok());
    }
    EXPECT_EQ(backend_.violations().size(), 2u);
    EXPECT_EQ(backend_.openStreams(), 0);
    const auto bytes = fixtures::readFile(image_);
    EXPECT_EQ(bytes[4095], patternByte(4095));
    EXPECT_EQ(bytes[8192], patternByte(8192));
}

TEST_F(TestBackendFaults, WritePastTheEndIsRecordedAndStopsAtTheEnd) {
    backend_.addDrive(VirtualDrive{image_});
    auto s = std::move(*backend_.open(physicalDriveName(0), OpenMode::Write));
    std::vector<uint8_t> buf(100, 1);
    ASSERT_EQ(*s->seek((1 << 20) - 50, SeekOrigin::Begin), (1 << 20) - 50);
    EXPECT_EQ(*s->write(buf.data(), 100), 50);
    EXPECT_EQ(backend_.violations().size(), 1u);
    EXPECT_EQ(fixtures::readFile(image_).size(), size_t(1 << 20));
}

TEST_F(TestBackendFaults, FallbackDrivesFollowTheVirtualOnes) {
    fixtures::TempDir other;
    const std::string second = other.file("second.img");
    fixtures::writePatternFile(second, 512 * 100);
    testkit::TestBackend inner;
    inner.addDrive(VirtualDrive{second});
    testkit::TestBackend outer(&inner);
    outer.addDrive(VirtualDrive{image_});
    EXPECT_EQ(*(*outer.open(physicalDriveName(0), OpenMode::Read))->length(), 1 << 20);
    EXPECT_EQ(*(*outer.open(physicalDriveName(1), OpenMode::Read))->length(), 512 * 100);
    EXPECT_FALSE(outer.open(physicalDriveName(2), OpenMode::Read).ok());
    EXPECT_EQ(outer.physicalDriveNode(1), second);
    // Identities follow the same numbering as opens: the fallback's own drive 0, then nothing.
    EXPECT_EQ(outer.objectIdentity(physicalDriveName(1)), systemBackend().objectIdentity(second));
    EXPECT_EQ(outer.objectIdentity(physicalDriveName(2)), "");
}

// A named file fails where a full or broken medium would, only under the name it was given.
TEST(TestBackendFileFaults, FailOnlyWhereAndHowTheyAreAsked) {
    constexpr int64_t kSize = 65536;
    enum class Op { Read, Write, Flush };
    struct Step {
        Op op;
        int64_t at;
        int64_t count;
        int64_t result; // bytes moved, or minus the error's code
    };
    struct Case {
        const char* what;
        const char* faultName; // the name the faults are given, in the test's folder
        testkit::Faults faults;
        OpenMode mode;
        int openError; // 0: the open succeeds
        std::vector<Step> steps;
    };
    const auto with = [](auto set) {
        testkit::Faults f;
        set(f);
        return f;
    };
    const auto createFails = with([](testkit::Faults& f) { f.failOpenModes = {OpenMode::Create}; });
    const Case cases[] = {
        {"a refused create leaves the file alone", "f", createFails, OpenMode::Create, EACCES, {}},
        {"other modes still open", "f", createFails, OpenMode::ReadWrite, 0, {{Op::Write, 0, 100, 100}}},
        {"writes stop at a full medium",
         "f",
         with([](testkit::Faults& f) { f.shortWriteAt = 5000; }),
         OpenMode::Write,
         0,
         {{Op::Write, 4096, 4096, 904}, {Op::Write, 5000, 1, -ENOSPC}, {Op::Write, 0, 100, 100}}},
        {"a write across the bad byte fails whole",
         "f",
         with([](testkit::Faults& f) { f.writeErrorAt = 5000; }),
         OpenMode::ReadWrite,
         0,
         {{Op::Write, 4096, 4096, -EIO}, {Op::Write, 0, 4096, 4096}, {Op::Write, 5001, 100, 100}}},
        {"a failed flush",
         "f",
         with([](testkit::Faults& f) { f.failFlush = true; }),
         OpenMode::ReadWrite,
         0,
         {{Op::Write, 0, 10, 10}, {Op::Flush, 0, 0, -EIO}}},
        {"a read across the bad byte fails whole",
         "f",
         with([](testkit::Faults& f) { f.readErrorAt = 5000; }),
         OpenMode::Read,
         0,
         {{Op::Read, 4096, 4096, -EIO}, {Op::Read, 0, 4096, 4096}, {Op::Read, 5001, 100, 100}}},
        {"another name of the file has none",
         "./f",
         with([](testkit::Faults& f) { f.failOpen = true; }),
         OpenMode::ReadWrite,
         0,
         {{Op::Write, 0, 4096, 4096}, {Op::Flush, 0, 0, 0}}},
    };
    const auto outcome = [](const auto& r) -> int64_t {
        if (!r.ok()) return -r.error().code;
        if constexpr (requires { *r; }) return *r;
        return 0;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fixtures::TempDir dir;
        const std::string file = dir.file("f");
        fixtures::writePatternFile(file, kSize);
        std::vector<uint8_t> want = fixtures::readFile(file);
        TestBackend backend;
        backend.fileFaults(dir.file(c.faultName)) = c.faults;
        {
            auto s = backend.open(file, c.mode);
            ASSERT_EQ(s.ok() ? 0 : s.error().code, c.openError);
            std::vector<uint8_t> buf(8192, 0xEE);
            for (const Step& step : c.steps) {
                ASSERT_EQ(*(*s)->seek(step.at, SeekOrigin::Begin), step.at);
                int64_t got = 0;
                switch (step.op) {
                case Op::Read:
                    got = outcome((*s)->read(buf.data(), step.count));
                    break;
                case Op::Write:
                    got = outcome((*s)->write(buf.data(), step.count));
                    break;
                case Op::Flush:
                    got = outcome((*s)->flush());
                    break;
                }
                EXPECT_EQ(got, step.result) << "step at " << step.at;
                if (step.op == Op::Write && got > 0) std::fill_n(want.begin() + step.at, got, 0xEE);
            }
        }
        EXPECT_TRUE(fixtures::readFile(file) == want) << "the file holds other bytes than were written";
        EXPECT_EQ(backend.openStreams(), 0);
    }
}

// The demo drive's overlay: images first, the fallback's drives after them, everything else the
// fallback's own.
TEST(ImageDrivesTest, ImagesComeFirstAndTheRestIsTheFallbacks) {
    fixtures::TempDir dir;
    const std::string image = dir.file("image.img"), own = dir.file("own.img"), file = dir.file("plain");
    fixtures::writePatternFile(image, 512 * 300);
    fixtures::writePatternFile(own, 512 * 100);
    fixtures::writePatternFile(file, 1000);
    TestBackend machine;
    machine.addDrive(VirtualDrive{own});
    machine.fileFaults(file).failOpenModes = {OpenMode::Write};
    ImageDrives drives(machine);
    ImageDrive d{image};
    d.bytesPerSector = 4096;
    EXPECT_EQ(drives.addDrive(d), 0);

    auto first = drives.open(physicalDriveName(0), OpenMode::Read);
    ASSERT_TRUE(first.ok());
    EXPECT_EQ((*first)->geometry()->bytesPerSector, 4096u);
    EXPECT_EQ(*(*first)->length(), 512 * 300);
    auto second = drives.open(physicalDriveName(1), OpenMode::Read);
    ASSERT_TRUE(second.ok()) << "the fallback's drive 0 is drive 1";
    EXPECT_EQ(*(*second)->length(), 512 * 100);
    EXPECT_FALSE(drives.open(physicalDriveName(2), OpenMode::Read).ok());
    EXPECT_FALSE(drives.open(physicalDriveName(0), OpenMode::Create).ok()) << "a disk is never created";
    EXPECT_FALSE(drives.open(file, OpenMode::Write).ok()) << "a plain path is the fallback's";
    EXPECT_EQ(drives.physicalDriveNode(0), image);
    EXPECT_EQ(drives.physicalDriveNode(1), own);
    EXPECT_EQ(drives.physicalDriveNode(2), "");
    EXPECT_EQ(drives.objectIdentity(physicalDriveName(0)), systemBackend().objectIdentity(image));
    EXPECT_EQ(drives.objectIdentity(physicalDriveName(1)), systemBackend().objectIdentity(own));
    EXPECT_EQ(drives.objectIdentity(physicalDriveName(2)), "");
    EXPECT_EQ(drives.objectIdentity(file), systemBackend().objectIdentity(file));
}

TEST(DeviceWatch, TestBackendSignalsArePolledAndCounted) {
    testkit::TestBackend backend;
    auto watch = backend.watchDevices();
    pollfd p{watch->pollDescriptor(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    backend.signalDeviceChange(3);
    EXPECT_EQ(::poll(&p, 1, 0), 1);
    EXPECT_EQ(watch->takeEvents(), 3);
    EXPECT_EQ(watch->takeEvents(), 0);
}

TEST(DeviceWatch, KernelReportsAttachingAndDetachingALoopDevice) {
    fixtures::TempDir dir;
    const std::string image = dir.file("w.img");
    fixtures::writePatternFile(image, 1 << 20);
    auto watch = systemBackend().watchDevices();
    if (watch->pollDescriptor() < 0) GTEST_SKIP() << "no kernel device-event source here";
    const auto waitForEvents = [&] {
        int total = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{watch->pollDescriptor(), POLLIN, 0};
            if (::poll(&p, 1, 100) > 0)
                total += watch->takeEvents();
            else if (total > 0)
                break;
        }
        return total;
    };
    {
        fixtures::LoopDevice loop(image);
        if (!loop.available()) GTEST_SKIP() << loop.reason();
        EXPECT_GT(waitForEvents(), 0) << "attach";
    }
    EXPECT_GT(waitForEvents(), 0) << "detach";
}

TEST(BlockDevices, WritersAreExclusiveAndAMountedFileSystemCannotBeOverwritten) {
    fixtures::TempDir dir;
    const std::string image = dir.file("ext4.img");
    fixtures::writePatternFile(image, 16 << 20);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    {
        auto writer = systemBackend().open(loop.node(), OpenMode::ReadWrite);
        ASSERT_TRUE(writer.ok()) << writer.error().text;
        auto second = systemBackend().open(loop.node(), OpenMode::Write);
        ASSERT_FALSE(second.ok());
        EXPECT_EQ(second.error().code, EBUSY);
        EXPECT_TRUE(systemBackend().open(loop.node(), OpenMode::Read).ok()) << "readers are never blocked";
    }
    if (fixtures::shell("mkfs.ext4 -q -F '" + loop.node() + "' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mkfs.ext4 is not available";
    const std::string mountPoint = dir.file("mnt");
    std::filesystem::create_directory(mountPoint);
    if (::mount(loop.node().c_str(), mountPoint.c_str(), "ext4", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount ext4 here: " << std::strerror(errno);
    auto busy = systemBackend().open(loop.node(), OpenMode::ReadWrite);
    EXPECT_TRUE(systemBackend().open(loop.node(), OpenMode::Read).ok());
    ::umount(mountPoint.c_str());
    ASSERT_FALSE(busy.ok());
    EXPECT_EQ(busy.error().code, EBUSY);
}

// Bytes the system holds between a file and a device leave it in the order they came, to the
// device or back into memory, across the pipes a large buffer needs; emptied, it is whole again.
TEST(KernelBuffers, KeepOrderAcrossTheirPipes) {
    constexpr int64_t kCapacity = 1536 << 10; // two pipes of at most 1 MiB
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("src.img"), 4 << 20, 5);
    fixtures::writePatternFile(dir.file("dev.img"), 4 << 20, 6);
    fixtures::LoopDevice loop(dir.file("dev.img"));
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    auto in = std::move(*systemBackend().open(dir.file("src.img"), OpenMode::Read));
    auto device = std::move(*systemBackend().open(loop.node(), OpenMode::Write));
    const auto buffer = kernelBuffer(*in, *device, kCapacity);
    ASSERT_TRUE(buffer);
    // Each round: fill, drain a part, take a part back into memory and write it, drain the rest;
    // the first takes back across the two pipes, the second drains across them.
    const std::vector<std::pair<int64_t, int64_t>> rounds{{12288, 1 << 20}, {(1 << 20) + 4096, 100000}};
    int64_t at = 0;
    for (const auto& [first, back] : rounds) {
        EXPECT_EQ(buffer->fill(kCapacity).valueOr(-1), kCapacity);
        EXPECT_EQ(buffer->drain(first).valueOr(-1), first);
        std::vector<uint8_t> bytes(size_t(back), 0);
        ASSERT_EQ(buffer->take(bytes.data(), back).valueOr(-1), back);
        ASSERT_TRUE(device->write(bytes.data(), back).ok());
        EXPECT_EQ(buffer->held(), kCapacity - first - back);
        EXPECT_EQ(buffer->drain(kCapacity).valueOr(-1), kCapacity - first - back);
        EXPECT_EQ(buffer->held(), 0);
        at += kCapacity;
    }
    ASSERT_TRUE(device->flush().ok());
    device.reset();
    const auto bytes = fixtures::readFile(dir.file("dev.img"));
    for (int64_t i = 0; i < 4 << 20; ++i)
        ASSERT_EQ(bytes[size_t(i)], patternByte(i, i < at ? 5 : 6)) << i;
}

// --- Named pipes and interrupts: a pipe with nobody at the other end must not hold the program
// once an interrupt is requested, and must be waited for patiently otherwise.

// SIGUSR1 interrupts blocking calls (no SA_RESTART), as the command line's SIGINT handler does.
class InterruptingSignal {
public:
    InterruptingSignal() {
        struct sigaction sa {};
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0;
        ::sigaction(SIGUSR1, &sa, &old_);
    }
    ~InterruptingSignal() { ::sigaction(SIGUSR1, &old_, nullptr); }

private:
    struct sigaction old_ {};
};

TEST(Interrupts, AWaitOnAPipeEndsWhenAnInterruptIsRequested) {
    using namespace std::chrono_literals;
    enum class Wait { ForAWriter, ForData };
    struct Case {
        const char* what;
        Wait wait;
        bool requestedBefore; // the request came before the wait began, with no signal after it
    };
    const Case cases[] = {
        {"open waiting for a writer", Wait::ForAWriter, false},
        {"read waiting for data", Wait::ForData, false},
        {"open after the request", Wait::ForAWriter, true},
        {"read after the request", Wait::ForData, true},
    };
    InterruptingSignal signal;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fixtures::TempDir dir;
        const std::string fifo = dir.file("pipe");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::atomic<bool> mayRead{false}, done{false};
        std::optional<Error> failure;
        if (c.requestedBefore && c.wait == Wait::ForAWriter) requestInterrupt();
        std::thread waiter([&] {
            auto s = systemBackend().open(fifo, OpenMode::Read);
            if (s && c.wait == Wait::ForData) {
                while (!mayRead)
                    std::this_thread::sleep_for(1ms);
                char byte;
                if (auto n = (*s)->read(&byte, 1); !n) failure = n.error();
            } else if (!s) {
                failure = s.error();
            }
            done = true;
        });
        int writer = -1;
        if (c.wait == Wait::ForData) {
            writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC); // meets the waiter's open
            if (c.requestedBefore) requestInterrupt();
            mayRead = true;
        }
        if (!c.requestedBefore) {
            std::this_thread::sleep_for(100ms);
            ::pthread_kill(waiter.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(50ms);
            EXPECT_FALSE(done) << "a signal without an interrupt request ended the wait";
            requestInterrupt();
        }
        const auto until = std::chrono::steady_clock::now() + 3s;
        while (!done && std::chrono::steady_clock::now() < until) {
            // Again and again: one sent before the waiter blocks would be lost.
            if (!c.requestedBefore) ::pthread_kill(waiter.native_handle(), SIGUSR1);
            std::this_thread::sleep_for(10ms);
        }
        const bool gaveUp = done;
        int unblock = -1;
        if (!gaveUp) { // end the wait from the other side, so that the test ends
            if (c.wait == Wait::ForAWriter)
                unblock = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            else
                EXPECT_EQ(::write(writer, "x", 1), 1);
        }
        waiter.join();
        clearInterrupt();
        for (int fd : {writer, unblock})
            if (fd >= 0) ::close(fd);
        EXPECT_TRUE(gaveUp) << "still waiting 3 s after the interrupt request";
        ASSERT_TRUE(failure.has_value()) << "the wait ended as if it had succeeded";
        EXPECT_EQ(failure->code, EINTR);
    }
}

// A restore from a named pipe whose writer starts later: the open waits for it, and every byte
// it writes is read.
TEST(Interrupts, APipeIsReadWhenItsWriterComesLater) {
    using namespace std::chrono_literals;
    fixtures::TempDir dir;
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    constexpr int64_t kSize = 200000; // more than a pipe holds: the writer waits for the reader too
    std::vector<uint8_t> got;
    std::optional<Error> failure;
    std::thread reader([&] {
        auto s = systemBackend().open(fifo, OpenMode::Read);
        if (!s) {
            failure = s.error();
            return;
        }
        std::vector<uint8_t> buf(65536);
        for (;;) {
            auto n = (*s)->read(buf.data(), int64_t(buf.size()));
            if (!n) {
                failure = n.error();
                return;
            }
            if (*n == 0) return;
            got.insert(got.end(), buf.begin(), buf.begin() + *n);
        }
    });
    std::this_thread::sleep_for(100ms);
    std::vector<uint8_t> sent(kSize);
    for (int64_t i = 0; i < kSize; ++i)
        sent[size_t(i)] = patternByte(i);
    // The writer neither waits for a reader that is gone nor dies of SIGPIPE when it left early.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);
    int writer = -1;
    for (const auto until = std::chrono::steady_clock::now() + 3s;
         writer < 0 && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(10ms))
        writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); // ENXIO while nobody reads
    int64_t written = 0;
    if (writer >= 0) {
        ::fcntl(writer, F_SETFL, ::fcntl(writer, F_GETFL) & ~O_NONBLOCK);
        while (written < kSize) {
            const ssize_t n = ::write(writer, sent.data() + written, size_t(kSize - written));
            if (n <= 0) break;
            written += n;
        }
        ::close(writer);
    } else {
        // Nobody came to read: let a waiting open, if any, go.
        const int last = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (last >= 0) ::close(last);
    }
    reader.join();
    ::sigaction(SIGPIPE, &old, nullptr);
    EXPECT_EQ(written, kSize) << "the reader was gone before the writer came";
    EXPECT_FALSE(failure) << failure->text;
    EXPECT_TRUE(got == sent) << got.size() << " bytes read of " << kSize;
}

} // namespace
