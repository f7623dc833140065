// Every file the program writes, against the one output-file policy: each writer is run at a
// name that holds an earlier file, a link, a planted side-file name, a device, a pipe, a folder,
// and (as root) the backing file of a mounted loop device.

#include "cli/cli.h"
#include "jobs/output_file.h"
#include "speed/commands.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>

#ifdef _WIN32
#include "platform/windows/utf16.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;
using Bytes = std::vector<uint8_t>;

namespace {

// One way the program writes a file: it writes `out`, replacing what stands there when `replace`.
struct Writer {
    std::string name;
    std::function<int(const std::string& out, bool replace)> write;
};

class OutputFiles : public testing::Test {
protected:
    void SetUp() override {
        fixtures::writePatternFile(dir_.file("d0.img"), 8 << 20);
        backend_.addDrive(VirtualDrive(dir_.file("d0.img")));
        fs::create_directory(dir_.file("w"));
    }
    int cli(std::vector<std::string> args) {
        std::istringstream in;
        std::ostringstream out, err;
        const int status = cli::run(args, backend_, cli::Io{in, out, err, false, false});
        lastErr_ = err.str();
        return status;
    }
    std::vector<Writer> writers() {
        const auto flag = [](bool replace, std::vector<std::string> args, const char* how = "--replace") {
            if (replace) args.push_back(how);
            return args;
        };
        return {
            {"dump",
             [=, this](auto& o, bool r) {
                 return cli(flag(r, {"dump", "0", o, "--size", "65536"}));
             }},
            {"cdi-save",
             [=, this](auto& o, bool r) {
                 return cli(flag(r, {"cdi-save", "0", o, "--size", "65536"}));
             }},
            {"zip",
             [=, this](auto& o, bool r) {
                 return cli(flag(r, {"zip", "0", o, "--size", "65536"}));
             }},
            {"zip --append",
             [=, this](auto& o, bool r) {
                 return cli(flag(r, {"zip", "0", o, "--size", "4096"}, "--append"));
             }},
            {"map",
             [=, this](auto& o, bool r) {
                 return cli(flag(r, {"map", "0", o}));
             }},
            {"seek --png",
             [this](const std::string& o, bool r) {
                 std::vector<std::string> args{"seek", "0", "--png", o};
                 if (r) args.push_back("--replace");
                 ScriptedUi ui; // a fake clock: the 512 accesses take no real time
                 std::ostringstream out, err;
                 const int status =
                     speed::seekCommand(backend_, cli::parseCommandLine(args), ui, ui, out, err);
                 lastErr_ = err.str();
                 return status;
             }},
            {"picture",
             [this](const std::string& o, bool r) {
                 if (jobs::outputRefusal(backend_, o, jobs::Existing::Replace)) return 1;
                 if (!r && jobs::outputNameTaken(backend_, o)) return cli::kExitRefused;
                 const std::string png(300, 'p');
                 const auto why =
                     jobs::writeWholeFile(backend_, o, png.data(), png.size(), jobs::Existing::Replace);
                 lastErr_ = why.value_or("");
                 return why ? 1 : 0;
             }},
        };
    }
    // An earlier archive, so that appending to it has something to add to.
    Bytes earlier() {
        const std::string made = dir_.file("earlier.zip");
        if (!fs::exists(made)) {
            EXPECT_EQ(cli({"zip", "0", made, "--size", "1000"}), 0);
        }
        return fixtures::readFile(made);
    }
    std::vector<std::string> namesInW() { return fixtures::namesIn(dir_.file("w")); }

    fixtures::TempDir dir_;
    TestBackend backend_;
    std::string lastErr_;
};

TEST_F(OutputFiles, AnEarlierFileIsReplacedOnlyWhenAskedAndOnlyByAWholeNewOne) {
    const std::string out = dir_.file("w/out"), victim = dir_.file("victim");
    const Bytes old = earlier();
    for (const auto& w : writers()) {
        SCOPED_TRACE(w.name);
        fs::remove_all(dir_.file("w"));
        fs::create_directory(dir_.file("w"));
        fixtures::writeFile(out, old);
        EXPECT_EQ(w.write(out, false), cli::kExitRefused)
            << "an earlier file is kept unless the user says so";
        EXPECT_EQ(fixtures::readFile(out), old);

        // Held by another program: the replace is refused, the file kept.
        {
#ifdef _WIN32 // open, shared with no one
            const HANDLE held = ::CreateFileW(platform::windows::wide(out).c_str(), GENERIC_READ, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
            EXPECT_EQ(w.write(out, true), 1);
            // An append reads the archive first, which the system refuses in its own words there.
            if (w.name != "zip --append") {
                EXPECT_NE(lastErr_.find("in use by another program"), std::string::npos) << lastErr_;
            }
            ::CloseHandle(held);
#else
            const int held = ::open(out.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
            EXPECT_EQ(w.write(out, true), 1);
            EXPECT_NE(lastErr_.find("in use by another program"), std::string::npos) << lastErr_;
            ::close(held);
#endif
        }
        EXPECT_EQ(fixtures::readFile(out), old);

        // A failure in the middle: the earlier file stays whole, no side file is left.
        backend_.fileFaults(out).writeErrorAt = (w.name == "zip --append" ? int64_t(old.size()) : 0) + 100;
        EXPECT_EQ(w.write(out, true), 1);
        backend_.fileFaults(out) = {};
        EXPECT_EQ(fixtures::readFile(out), old);
        EXPECT_EQ(namesInW(), std::vector<std::string>{"out"});

        // Side-file names of the user's, one a link to a victim: none is used, emptied or moved.
        fixtures::writeFile(victim, {'v'});
        const std::vector<std::string> planted{".partial", ".partial2", ".tmp"};
        for (const auto& suffix : planted)
            fixtures::writeFile(out + suffix, {'u'});
#ifdef _WIN32 // making a link needs a privilege there
        fixtures::writeFile(dir_.file("w/out.partial3"), {'u'});
#else
        fs::create_symlink(victim, dir_.file("w/out.partial3"));
#endif
        EXPECT_EQ(w.write(out, true), 0) << lastErr_;
        EXPECT_NE(fixtures::readFile(out), old);
        EXPECT_EQ(fixtures::readFile(victim), Bytes{'v'});
        EXPECT_EQ(namesInW(), (std::vector<std::string>{"out", "out.partial", "out.partial2", "out.partial3",
                                                        "out.tmp"}));
        for (const auto& suffix : planted)
            EXPECT_EQ(fixtures::readFile(out + suffix), Bytes{'u'}) << suffix;

#ifndef _WIN32
        // A link is replaced as a link: what it points to is never written.
        fs::remove(out);
        const Bytes theirs{'n', 'o', 't', ' ', 'a', ' ', 'z', 'i', 'p'};
        fixtures::writeFile(victim, theirs);
        fs::create_symlink(victim, out);
        const int status = w.write(out, true);
        EXPECT_EQ(fixtures::readFile(victim), theirs);
        if (w.name == "zip --append") {
            EXPECT_EQ(status, 1) << "nothing is appended through a link";
            EXPECT_NE(lastErr_.find("Is a symbolic link"), std::string::npos) << lastErr_;
            EXPECT_TRUE(fs::is_symlink(out));
        } else {
            EXPECT_EQ(status, 0) << lastErr_;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out)));
        }
#endif
    }
}

TEST_F(OutputFiles, DevicesPipesAndFoldersAreRefusedAndLeftAsTheyWere) {
    const std::string fifo = dir_.file("w/fifo"), folder = dir_.file("w/folder");
    fs::create_directory(folder);
#ifdef _WIN32 // no named pipes in a folder there
    const std::vector<std::pair<std::string, std::string>> refused{
        {"NUL", "Is a device"}, {folder, "Is a directory"}, {"\\\\.\\PHYSICALDRIVE0", "Is a device"}};
#else
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> refused{{"/dev/null", "Is a device"},
                                                                   {fifo, "Is a named pipe"},
                                                                   {folder, "Is a directory"},
                                                                   {"\\\\.\\PHYSICALDRIVE0", "Is a device"}};
#endif
    for (const auto& w : writers()) {
        SCOPED_TRACE(w.name);
        for (const auto& [out, why] : refused) {
            for (const bool replace : {false, true}) {
                lastErr_.clear();
                EXPECT_EQ(w.write(out, replace), 1) << out;
                if (w.name != "picture") {
                    EXPECT_NE(lastErr_.find(why), std::string::npos) << out << ": " << lastErr_;
                }
            }
        }
        EXPECT_TRUE(fs::is_directory(folder) && fs::is_empty(folder));
#ifdef _WIN32
        EXPECT_EQ(namesInW(), (std::vector<std::string>{"folder"}));
#else
        struct stat st {};
        EXPECT_EQ(::stat("/dev/null", &st), 0);
        EXPECT_TRUE(S_ISCHR(st.st_mode));
        EXPECT_TRUE(fs::is_fifo(fifo));
        EXPECT_EQ(namesInW(), (std::vector<std::string>{"fifo", "folder"}));
#endif
    }
}

TEST_F(OutputFiles, TheBackingFileOfAMountedLoopDeviceIsInUse) {
#ifdef _WIN32
    GTEST_SKIP() << "loop devices and mounts are Linux's";
#else
    if (::geteuid() != 0) GTEST_SKIP() << "attaching and mounting a loop device needs root";
    const std::string image = dir_.file("w/fs.img"), mnt = dir_.file("mnt");
    fs::create_directory(mnt);
    fixtures::writeFile(image, {});
    fs::resize_file(image, 4 << 20);
    if (fixtures::shell("mkfs.ext4 -q -F '" + image + "' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mkfs.ext4 failed";
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    if (::mount(loop.node().c_str(), mnt.c_str(), "ext4", 0, nullptr) != 0)
        GTEST_SKIP() << "cannot mount ext4 here";
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(image.c_str(), &before), 0);
    for (const auto& w : writers()) {
        SCOPED_TRACE(w.name);
        EXPECT_EQ(w.write(image, true), 1);
        EXPECT_EQ(w.write(loop.node(), true), 1) << "the device itself";
    }
    ::umount(mnt.c_str());
    ASSERT_EQ(::stat(image.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file system's image was not replaced";
    EXPECT_EQ(namesInW(), std::vector<std::string>{"fs.img"});
    EXPECT_EQ(fixtures::shell("e2fsck -n '" + image + "' >/dev/null 2>&1"), 0);
#endif
}

} // namespace
