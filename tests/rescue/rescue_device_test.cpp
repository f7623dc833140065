// Rescue from a real failing device: a FUSE disk whose chosen ranges fail with EIO, under a
// read-only loop device, imaged by the real command; also killed midway and run again.

#include "rescue/rescue.h"

#include "support/faulty_disk.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using rescue::Map;
using rescue::State;

namespace rescue {
void PrintTo(const Area& a, std::ostream* os) {
    *os << "{" << a.offset << ", " << a.size << ", '" << char(a.state) << "'}";
}
} // namespace rescue

namespace {

constexpr int64_t MiB = 1 << 20, kSize = 8 * MiB;
// The loop device reads its file through the page cache: a fault fails its whole page.
constexpr int64_t kPage = 4096;
constexpr int kDelayMs = 25; // per failed read, so that the sector passes last long enough to kill

struct Range {
    int64_t offset, length;
};
// One page; 100 bytes inside another page; two pages across a block boundary; the last page.
const std::vector<Range> kBad{
    {MiB + 4096, 4096}, {3 * MiB + 5000, 100}, {5 * MiB - 4096, 8192}, {kSize - 4096, 4096}};
const std::vector<uint8_t> kFill{0xDE, 0xAD, 0xBE, 0xEF};

std::string text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool mountedAt(const fs::path& folder) {
    return text("/proc/mounts").find(" " + folder.string() + " ") != std::string::npos;
}

pid_t spawn(const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (int null = ::open("/dev/null", O_WRONLY); null >= 0) ::dup2(null, 1), ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// The FUSE disk on a folder of `dir` and a read-only loop device over its file; the loop device
// is detached, the server ended and the folder unmounted when the object goes.
class FaultyDevice {
public:
    explicit FaultyDevice(const fs::path& dir) : mnt_(dir / "mnt") {
#ifndef FAULTY_FUSE
        reason_ = "the FUSE test server was not built (no fuse3 library)";
#else
        if (::geteuid() != 0) {
            reason_ = "needs root (FUSE mount and loop device)";
            return;
        }
        if (::access("/dev/fuse", R_OK | W_OK) != 0) {
            reason_ = "no /dev/fuse here";
            return;
        }
        fs::create_directories(mnt_);
        std::vector<std::string> args{FAULTY_FUSE, mnt_.string(), std::to_string(kSize), "--delay-ms",
                                      std::to_string(kDelayMs)};
        for (const Range& r : kBad)
            args.insert(args.end(), {"--bad", std::to_string(r.offset) + ":" + std::to_string(r.length)});
        server_ = spawn(args);
        for (int i = 0; i < 500 && !fs::exists(mnt_ / "disk"); ++i) {
            if (::waitpid(server_, nullptr, WNOHANG) == server_) {
                server_ = 0;
                reason_ = "mounting the FUSE disk failed";
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!fs::exists(mnt_ / "disk")) {
            reason_ = "the FUSE disk did not appear";
            return;
        }
        std::string out;
        if (fixtures::shell(
                "losetup --find --show --read-only '" + (mnt_ / "disk").string() + "' 2>/dev/null", &out) !=
                0 ||
            out.empty()) {
            reason_ = "losetup could not attach a loop device over the FUSE disk";
            return;
        }
        loop_ = out.substr(0, out.find('\n'));
#endif
    }
    ~FaultyDevice() {
        if (!loop_.empty()) fixtures::shell("losetup -d '" + loop_ + "' 2>/dev/null");
        if (server_ > 0) {
            ::kill(server_, SIGTERM); // the server unmounts on its way out
            int i = 0;
            while (::waitpid(server_, nullptr, WNOHANG) == 0 && ++i < 300)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (i >= 300) ::kill(server_, SIGKILL), ::waitpid(server_, nullptr, 0);
        }
        if (mountedAt(mnt_)) fixtures::shell("fusermount3 -u -z '" + mnt_.string() + "' 2>/dev/null");
    }
    FaultyDevice(const FaultyDevice&) = delete;
    FaultyDevice& operator=(const FaultyDevice&) = delete;
    bool available() const {
        return !loop_.empty();
    }
    const std::string& reason() const {
        return reason_;
    }
    const std::string& node() const {
        return loop_;
    }

private:
    fs::path mnt_;
    pid_t server_ = 0;
    std::string loop_;
    std::string reason_;
};

std::vector<std::string> rescueArgs(const std::string& device, const fs::path& dir) {
    return {TARNWICK_CLI,           "rescue", device,    (dir / "img").string(),
            (dir / "map").string(), "--fill", "DEADBEEF"};
}

// The whole command run to its end; its exit status.
int rescueTo(const std::string& device, const fs::path& dir) {
    std::string cmd;
    for (const auto& a : rescueArgs(device, dir))
        cmd += "'" + a + "' ";
    return fixtures::shell(cmd + ">/dev/null 2>&1");
}

// The bad ranges widened to the pages that fail, Bad; the rest Finished.
Map expectedMap() {
    Map m(kSize);
    m.mark(0, kSize, State::Finished);
    for (const Range& r : kBad) {
        const int64_t first = r.offset / kPage * kPage;
        m.mark(first, (r.offset + r.length + kPage - 1) / kPage * kPage - first, State::Bad);
    }
    return m;
}

// The image holds the disk's bytes outside the bad pages and the fill in them; the map says so.
void expectRescued(const fs::path& dir) {
    const auto map = rescue::parseMap(text((dir / "map").string()), kSize);
    ASSERT_TRUE(map);
    const Map want = expectedMap();
    EXPECT_EQ(map->phase, rescue::Phase::Done);
    EXPECT_EQ(map->areas(), want.areas());
    const auto image = fixtures::readFile((dir / "img").string());
    ASSERT_EQ(int64_t(image.size()), kSize);
    int64_t wrong = 0, first = -1;
    for (const auto& a : want.areas())
        for (int64_t p = a.offset; p < a.end(); ++p) {
            const uint8_t expected = a.state == State::Bad ? kFill[p % 4] : faultydisk::patternByte(p);
            if (image[size_t(p)] != expected && wrong++ == 0) first = p;
        }
    EXPECT_EQ(wrong, 0) << "first wrong byte at " << first;
}

TEST(RescueDevice, ImagesAFailingDeviceAndMapsItsBadPages) {
    fixtures::TempDir dir;
    FaultyDevice device(dir.path());
    if (!device.available()) GTEST_SKIP() << device.reason();
    // Bad areas remain: the command says the rescue is incomplete.
    EXPECT_EQ(rescueTo(device.node(), dir.path()), 1);
    expectRescued(dir.path());
}

// Onto another device, behind the gate: its bytes before and after the target's range stay.
TEST(RescueDevice, RescuesOntoAnotherDeviceInsideItsRangeOnly) {
    fixtures::TempDir dir;
    FaultyDevice device(dir.path());
    if (!device.available()) GTEST_SKIP() << device.reason();
    const std::string backing = (dir.path() / "target").string();
    fixtures::writeFile(backing, std::vector<uint8_t>(size_t(kSize + 2 * MiB), 0x77));
    std::string out;
    ASSERT_EQ(fixtures::shell("losetup --find --show '" + backing + "'", &out), 0);
    const std::string target = out.substr(0, out.find('\n'));
    std::string cmd;
    for (const auto& a : rescueArgs(device.node(), dir.path()))
        cmd += "'" + a + "' ";
    cmd.replace(cmd.find((dir.path() / "img").string()), (dir.path() / "img").string().size(), target);
    const int status = fixtures::shell(cmd + "--target-offset 1M --agree >/dev/null 2>&1");
    fixtures::shell("losetup -d '" + target + "'");
    EXPECT_EQ(status, 1);
    auto bytes = fixtures::readFile(backing);
    ASSERT_EQ(int64_t(bytes.size()), kSize + 2 * MiB);
    EXPECT_EQ(std::count(bytes.begin(), bytes.begin() + MiB, 0x77), MiB);
    EXPECT_EQ(std::count(bytes.end() - MiB, bytes.end(), 0x77), MiB);
    fixtures::writeFile((dir.path() / "img").string(), {bytes.begin() + MiB, bytes.end() - MiB});
    expectRescued(dir.path());
}

TEST(RescueDevice, KilledMidwayGoesOnToTheSameImageAndMap) {
    fixtures::TempDir dir;
    FaultyDevice device(dir.path());
    if (!device.available()) GTEST_SKIP() << device.reason();
    const fs::path whole = dir.path() / "whole", killed = dir.path() / "killed";
    fs::create_directories(whole);
    fs::create_directories(killed);
    ASSERT_EQ(rescueTo(device.node(), whole), 1);

    // Killed once the map records rescued bytes (the copy passes are over), while the failed
    // blocks are still being read sector by sector, each bad one slowly.
    const pid_t run = spawn(rescueArgs(device.node(), killed));
    ASSERT_GT(run, 0);
    bool sawRescued = false;
    for (int i = 0; i < 2000 && !sawRescued; ++i) {
        if (::waitpid(run, nullptr, WNOHANG) == run) FAIL() << "the rescue ended before it could be killed";
        sawRescued = text((killed / "map").string()).find("  +\n") != std::string::npos;
        if (!sawRescued) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(run, SIGKILL);
    int status = 0;
    ::waitpid(run, &status, 0);
    ASSERT_TRUE(sawRescued);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the rescue ended before the kill";
    const auto midway = rescue::parseMap(text((killed / "map").string()), kSize);
    ASSERT_TRUE(midway);
    EXPECT_NE(midway->phase, rescue::Phase::Done);

    EXPECT_EQ(rescueTo(device.node(), killed), 1);
    expectRescued(killed);
    EXPECT_EQ(fixtures::readFile((killed / "img").string()), fixtures::readFile((whole / "img").string()));
    EXPECT_EQ(rescue::parseMap(text((killed / "map").string()), kSize)->areas(),
              rescue::parseMap(text((whole / "map").string()), kSize)->areas());
}

} // namespace
