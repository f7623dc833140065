// The command line's checksum, erase, speed and seek, run in-process.

#include "cli/command_line.h"
#include "maintenance/commands.h"
#include "speed/commands.h"

#include "speed/speed.h"
#include "support/fixtures.h"
#include "support/probe_backend.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <stdexcept>

using platform::testkit::TestBackend;

namespace {

using Command = int (*)(platform::Backend&, const cli::CommandLine&, Dialogs&, JobControl&, std::ostream&,
                        std::ostream&);
using Args = std::vector<std::string>;

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class MaintenanceCli : public testing::Test {
protected:
    // The arguments as tarnwick-cli gets them, command first, parsed as it parses them.
    int run(Command command, const Args& args, platform::Backend* backend = nullptr) {
        out_.str("");
        err_.str("");
        return command(backend ? *backend : backend_, cli::parseCommandLine(args), ui_, ui_, out_, err_);
    }
    fixtures::TempDir dir_;
    TestBackend backend_;
    ScriptedUi ui_;
    std::ostringstream out_, err_;
};

TEST_F(MaintenanceCli, ChecksumPrintsTheDigests) {
    const std::string file = dir_.file("data.bin");
    fixtures::writePatternFile(file, 100000, 4);
    helpers::copySlice(file, 0x100, 5000, dir_.file("slice"));
    const std::string md5 = helpers::toolDigest("md5sum", dir_.file("slice"));
    const std::string sha1 = helpers::toolDigest("sha1sum", dir_.file("slice"));
    const Args range{"checksum", file, "--offset", "0x100", "--size", "5000"};
    EXPECT_EQ(run(maintenance::checksumCommand, range), 0);
    EXPECT_EQ(out_.str(), "MD5 " + md5 + "\nSHA1 " + sha1 + "\n");
    const Args md5Only = range + Args{"--md5"};
    EXPECT_EQ(run(maintenance::checksumCommand, md5Only), 0);
    EXPECT_EQ(out_.str(), "MD5 " + md5 + "\n");
    const Args sha1Only = range + Args{"--sha1"};
    EXPECT_EQ(run(maintenance::checksumCommand, sha1Only), 0);
    EXPECT_EQ(out_.str(), "SHA1 " + sha1 + "\n");

    // A short read: as in the window, the digests of the bytes before the failing block, which the
    // run does not pass off as the selection's (a note, and status 1).
    backend_.fileFaults(file).readErrorAt = 50000;
    helpers::copySlice(file, 0, 49152, dir_.file("before"));
    EXPECT_EQ(run(maintenance::checksumCommand, {"checksum", file}), 1);
    EXPECT_EQ(out_.str(), "MD5 " + helpers::toolDigest("md5sum", dir_.file("before")) + "\nSHA1 " +
                              helpers::toolDigest("sha1sum", dir_.file("before")) + "\n");
    EXPECT_EQ(err_.str(), "The digests below are of the first 49152 bytes of 100000 bytes only.\n");
    EXPECT_EQ(ui_.texts().back(), "Read error. Only read 0 bytes of 8192 bytes expected");
}

TEST_F(MaintenanceCli, UsageErrors) {
    const std::string file = dir_.file("data.bin");
    fixtures::writePatternFile(file, 4096);
    const std::vector<std::pair<Command, Args>> cases{
        {maintenance::checksumCommand, {"checksum"}},
        {maintenance::checksumCommand, {"checksum", file, file}},
        {maintenance::checksumCommand, {"checksum", file, "--md5", "--sha1"}},
        {maintenance::checksumCommand, {"checksum", file, "--pattern", "00"}},
        {maintenance::checksumCommand, {"checksum", file, "--offset", "12q"}},
        {maintenance::checksumCommand, {"checksum", file, "--size="}},
        {maintenance::eraseCommand, {"erase", file}},
        {maintenance::eraseCommand, {"erase", file, "--pattern", "zz"}},
        {maintenance::eraseCommand, {"erase", file, "--pattern", "100"}},
        {speed::speedCommand, {"speed", file, "--buffered"}},
        {speed::seekCommand, {"seek", file, "--png="}},
    };
    for (const auto& [command, args] : cases) {
        EXPECT_THROW(run(command, args), std::invalid_argument);
        EXPECT_TRUE(backend_.opens().empty()) << "found before anything is opened";
    }
}

TEST_F(MaintenanceCli, EraseNeedsAgreement) {
    const std::string file = dir_.file("disk.img");
    fixtures::writePatternFile(file, 65536, 8);
    EXPECT_EQ(run(maintenance::eraseCommand,
                  {"erase", file, "--pattern", "AA", "--offset", "1000", "--size", "5000"}),
              1);
    EXPECT_EQ(fixtures::readFile(file), [&] {
        fixtures::writePatternFile(dir_.file("orig"), 65536, 8);
        return fixtures::readFile(dir_.file("orig"));
    }()) << "the gate refused: nothing written";

    // Stopped half-way: the bytes written are named, and it does not count as done.
    ui_.gate = {true};
    int pumps = 0;
    ui_.onPump = [&] { ui_.stop = ++pumps == 3; };
    EXPECT_EQ(run(maintenance::eraseCommand,
                  {"erase", file, "--pattern", "00", "--offset", "1000", "--size", "50000"}),
              1);
    EXPECT_EQ(err_.str(), "Stopped: erased only 6144 bytes of 50000 bytes.\n");
    EXPECT_EQ(out_.str(), "");
    ui_.onPump = nullptr;

    for (const std::string pattern : {"aa", "7", "random"}) {
        fixtures::writePatternFile(file, 65536, 8);
        EXPECT_EQ(run(maintenance::eraseCommand,
                      {"erase", file, "--pattern", pattern, "--agree", "--offset", "1000", "--size", "5000"}),
                  0);
        EXPECT_EQ(out_.str(), "Erased 5000 bytes\n");
        const auto bytes = fixtures::readFile(file);
        for (int64_t i = 0; i < 65536; ++i) {
            if (i >= 1000 && i < 6000) {
                if (pattern != "random") {
                    ASSERT_EQ(bytes[size_t(i)], pattern == "aa" ? 0xAA : 0x07) << i;
                }
            } else {
                ASSERT_EQ(bytes[size_t(i)], fixtures::patternByte(i, 8)) << "canary byte " << i;
            }
        }
    }
}

TEST_F(MaintenanceCli, SpeedAndSeekPrintSamplesAndDrawTheChart) {
    const std::string file = dir_.file("s.img");
    fixtures::writeFile(file, {});
    std::filesystem::resize_file(file, 128 << 20);
    probe::ProbeBackend timed(backend_);
    timed.probe.clock = &ui_.fakeClock;
    timed.probe.readMs = [](int64_t) { return 2; };
    EXPECT_EQ(run(speed::speedCommand, {"speed", file, "--png", dir_.file("speed.png")}, &timed), 0);
    std::istringstream lines(out_.str());
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);)
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 1u + 1024 + 2);
    EXPECT_EQ(rows[0], "Sample\tPosition (MiB)\tSpeed (kB/s)");
    EXPECT_EQ(rows[4], "3\t0.375\t65536.0");
    EXPECT_EQ(rows[1025], "Average: 65536 kb/s (64 Mb/s)");
    EXPECT_EQ(rows[1026], "Maximum: 65536 kb/s");
    EXPECT_GT(std::filesystem::file_size(dir_.file("speed.png")), 1000u);
    // An earlier chart is replaced only when asked, and is checked before minutes of measuring.
    const auto chart = fixtures::readFile(dir_.file("speed.png"));
    EXPECT_EQ(run(speed::seekCommand, {"seek", file, "--png", dir_.file("speed.png")}, &timed), 1);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(fixtures::readFile(dir_.file("speed.png")), chart);
    EXPECT_EQ(run(speed::seekCommand, {"seek", file, "--png", dir_.file("speed.png"), "--replace"}, &timed),
              0);
    EXPECT_NE(fixtures::readFile(dir_.file("speed.png")), chart);

    // 64 MiB has no whole sample: said, nothing printed, status 1.
    EXPECT_EQ(run(speed::speedCommand, {"speed", file, "--size", "0x4000000"}, &timed), 1);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(ui_.texts().back(), speed::kTooSmallMessage);

    EXPECT_EQ(run(speed::seekCommand, {"seek", file}, &timed), 0);
    const std::string seek = out_.str();
    EXPECT_EQ(seek.substr(0, seek.find('\n')), "Access\tPosition (MiB)\tTime (ms)");
    EXPECT_EQ(std::count(seek.begin(), seek.end(), '\n'), 1 + 512 + 2);
    EXPECT_NE(seek.find("\nAverage: 2.0 ms\n100% done\n"), std::string::npos);

    // Stopped: the samples so far are drawn, and the run does not count as done.
    int pumps = 0;
    ui_.onPump = [&] { ui_.stop = ++pumps == 40; };
    EXPECT_EQ(run(speed::speedCommand, {"speed", file, "--png", dir_.file("stopped.png")}, &timed), 1);
    const std::string stopped = out_.str();
    EXPECT_EQ(std::count(stopped.begin(), stopped.end(), '\n'), 1 + 40 + 2);
    ASSERT_TRUE(std::filesystem::exists(dir_.file("stopped.png"))) << "no chart of a stopped run";
    EXPECT_GT(std::filesystem::file_size(dir_.file("stopped.png")), 1000u);
}

} // namespace
