// The command line's checksum, erase, speed and seek, run in-process.

#include "cli/cli.h"
#include "cli/command_line.h"
#include "maintenance/commands.h"
#include "speed/commands.h"

#include "platform/platform.h"
#include "speed/speed.h"
#include "support/fixtures.h"
#include "support/memory_stream.h"
#include "support/probe_backend.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>

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
    int run(cli::CommandRun command, const Args& args, platform::RawStream* input = nullptr,
            platform::Backend* backend = nullptr) {
        out_.str("");
        err_.str("");
        const cli::CommandLine line = cli::parseCommandLine(args);
        cli::CommandContext context{backend ? *backend : backend_, line, ui_, ui_, out_, err_, input};
        return command(context);
    }
    // tarnwick-cli as a whole, with `input` as its standard input.
    struct CliRun {
        int status;
        std::string out, err;
    };
    CliRun cli(const Args& args, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        const int status = cli::run(args, backend_, cli::Io{in, out, err, false, false});
        return {status, out.str(), err.str()};
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
    const std::vector<std::pair<cli::CommandRun, Args>> cases{
        {maintenance::checksumCommand, {"checksum"}},
        {maintenance::checksumCommand, {"checksum", file, file}},
        {maintenance::checksumCommand, {"checksum", file, "--md5", "--sha1"}},
        {maintenance::checksumCommand, {"checksum", file, "--pattern", "00"}},
        {maintenance::checksumCommand, {"checksum", file, "--offset", "12q"}},
        {maintenance::checksumCommand, {"checksum", file, "--size="}},
        {maintenance::checksumCommand, {"checksum", "-", "--offset", "1"}},
        {maintenance::checksumCommand, {"checksum", "-", "--buffered"}},
        {maintenance::checksumCommand, {"checksum", file, "--format", "md5"}},
        {maintenance::checksumCommand, {"checksum", file, "--format=sum", "--size", "10"}},
        {maintenance::checksumCommand, {"checksum", file, "--check", "--sha256"}},
        {maintenance::checksumCommand, {"checksum", file, "--check", "--offset", "0"}},
        {maintenance::checksumCommand, {"checksum", file, "--check", "--json"}},
        {cli::runWith<maintenance::eraseCommand>, {"erase", file}},
        {cli::runWith<maintenance::eraseCommand>, {"erase", file, "--pattern", "zz"}},
        {cli::runWith<maintenance::eraseCommand>, {"erase", file, "--pattern", "100"}},
        {cli::runWith<speed::speedCommand>, {"speed", file, "--buffered"}},
        {cli::runWith<speed::seekCommand>, {"seek", file, "--png="}},
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
    EXPECT_EQ(run(speed::seekCommand, {"seek", file, "--png", dir_.file("speed.png")}, &timed),
              cli::kExitRefused);
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

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// What a shell command prints on standard output, or nothing when the tool is missing.
std::string printed(const std::string& command) {
    std::string out;
    fixtures::shell(command, &out);
    return out;
}

// The lines --format=sum writes are the coreutils tools' own, for a file (also one whose name
// they escape) and for a drive, named by the image it shows; the tools and --check accept them,
// and fail them both, in the same words, once a byte changed.
TEST_F(MaintenanceCli, SumLinesPassTheCoreutilsCheckAndOurs) {
#ifdef _WIN32
    GTEST_SKIP() << "compared with coreutils' own lines, which a Windows test cannot run";
#endif
    const std::string plain = dir_.file("disk image.img"), odd = dir_.file("back\\slash.img");
    fixtures::writePatternFile(plain, 300000, 3);
    fixtures::writePatternFile(odd, 70000, 4);
    backend_.addDrive(platform::testkit::VirtualDrive(plain));
    const std::string list = dir_.file("list");
    // operand, the file it reads, digest option, the tool that checks it
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases{
        {plain, plain, "--md5", "md5sum"},
        {plain, plain, "--sha1", "sha1sum"},
        {odd, odd, "--sha256", "sha256sum"},
        {"0", plain, "--sha256", "sha256sum"},
    };
    for (const auto& [operand, file, option, tool] : cases) {
        if (printed("command -v " + tool).empty()) GTEST_SKIP() << tool << " is not installed";
        const CliRun sum = cli({"checksum", operand, option, "--format=sum"});
        EXPECT_EQ(sum.status, 0) << sum.err;
        EXPECT_EQ(sum.out, printed(tool + " '" + file + "'")) << operand;
        writeText(list, sum.out);
        const std::string check = "cd / && " + tool + " -c '" + list + "' 2>/dev/null";
        for (const int status : {0, 1}) { // 1: after a byte changed
            const CliRun ours = cli({"checksum", "--check", list});
            EXPECT_EQ(fixtures::shell(check), status) << tool;
            EXPECT_EQ(ours.status, status) << ours.err;
            EXPECT_EQ(ours.out, printed(check));
            auto bytes = fixtures::readFile(file);
            bytes[60000] ^= 1;
            fixtures::writeFile(file, bytes);
        }
    }

    // A partition of an image is no file or node of its own: nothing can name its bytes.
    fixtures::writeMbr(plain, {{0x83, 63, 100}});
    const CliRun partition = cli({"checksum", "0p1", "--format=sum"});
    EXPECT_EQ(partition.status, 1);
    EXPECT_EQ(partition.out, "");
    EXPECT_NE(partition.err.find("no file or device node holds exactly the bytes of 0p1"), std::string::npos);
}

// As root, a partition is named by the node the kernel made for it, which sha256sum reads.
TEST_F(MaintenanceCli, APartitionSumLineNamesItsNode) {
    const std::string image = dir_.file("p.img");
    fixtures::writePatternFile(image, 4 << 20, 6);
    fixtures::writeMbr(image, {{0x83, 2048, 4096}});
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    fixtures::PartitionNodes parts(loop.node());
    if (!parts.available()) GTEST_SKIP() << "partx cannot add partitions";
    platform::Backend& system = platform::systemBackend();
    int drive = 0;
    while (system.physicalDriveNode(drive) != loop.node())
        if (system.physicalDriveNode(drive++).empty()) GTEST_SKIP() << "the loop device is not a drive here";
    const Args args{"checksum", std::to_string(drive) + "p1", "--sha256", "--format=sum"};
    ASSERT_EQ(run(maintenance::checksumCommand, args, nullptr, &system), 0) << err_.str();
    EXPECT_EQ(out_.str(), printed("sha256sum " + parts.node(1)));
}

TEST_F(MaintenanceCli, CheckReadsEachLineAsCoreutilsDoes) {
#ifdef _WIN32
    GTEST_SKIP() << "compared with coreutils' own lines, which a Windows test cannot run";
#endif
    const std::string file = dir_.file("a.bin"), missing = dir_.file("gone.bin");
    fixtures::writePatternFile(file, 50000, 2);
    backend_.addDrive(platform::testkit::VirtualDrive(file));
    const std::string md5 = printed("md5sum < " + file).substr(0, 32);
    const std::string sha1 = printed("sha1sum < " + file).substr(0, 40);
    // the list, read from standard input, status, standard output, a warning
    const std::vector<std::tuple<std::string, bool, int, std::string, std::string>> cases{
        {md5 + "  " + file + "\n# note\n\n" + sha1 + " *0\r\n", false, 0, file + ": OK\n0: OK\n", ""},
        {md5 + "  " + file + "\n" + sha1 + "  0", true, 0, file + ": OK\n0: OK\n", ""},
        {std::string(32, '0') + "  0\n", false, 1, "0: FAILED\n",
         "WARNING: 1 computed checksum did NOT match"},
        {md5 + "  " + missing + "\n" + md5 + "  0\n", false, 1, missing + ": FAILED open or read\n0: OK\n",
         "WARNING: 1 listed file could not be read"},
        {"MD5 " + md5 + "\n" + md5 + "x  0\n" + md5 + "  0\n", false, 1, "0: OK\n",
         "WARNING: 2 lines are improperly formatted"},
        {"# nothing\n", false, 1, "", "no properly formatted checksum lines found"},
    };
    for (const auto& [text, throughInput, status, out, warning] : cases) {
        writeText(dir_.file("list"), text);
        const CliRun r = cli({"checksum", "--check", throughInput ? "-" : dir_.file("list")}, text);
        EXPECT_EQ(r.status, status) << text << r.err;
        EXPECT_EQ(r.out, out) << text;
        EXPECT_NE(r.err.find(warning), std::string::npos) << r.err;
    }
}

TEST_F(MaintenanceCli, StandardInputIsSummedAsTheSameFile) {
    const std::string file = dir_.file("in.bin");
    fixtures::writePatternFile(file, 200000, 5);
    const auto bytes = fixtures::readFile(file);
    const std::string input(bytes.begin(), bytes.end());
    for (const Args& choice : {Args{}, Args{"--sha256"}, Args{"--sha1", "--sha256"}}) {
        const CliRun fromInput = cli(Args{"checksum", "-"} + choice, input);
        EXPECT_EQ(fromInput.status, 0) << fromInput.err;
        EXPECT_EQ(fromInput.out, cli(Args{"checksum", file} + choice).out);
    }
#ifndef _WIN32 // coreutils' line for the same bytes
    EXPECT_EQ(cli({"checksum", "-", "--sha256", "--format=sum"}, input).out, printed("sha256sum < " + file));
#endif
    EXPECT_EQ(cli({"checksum", "-", "--md5"}).out, "MD5 D41D8CD98F00B204E9800998ECF8427E\n") << "empty";

    // Stopped while standard input is read: no digest of part of it.
    platform::testkit::MemoryStream stream(bytes);
    int pumps = 0;
    ui_.onPump = [&] { ui_.stop = ++pumps == 3; };
    EXPECT_EQ(run(maintenance::checksumCommand, {"checksum", "-"}, &stream), 1);
    EXPECT_EQ(out_.str(), "");
}

// python3's json module reads what --json prints, and finds the numbers the tab output shows
// (for speed and seek, the ones SpeedAndSeekPrintSamplesAndDrawTheChart expects of it).
TEST_F(MaintenanceCli, JsonCarriesTheNumbersTheTabOutputShows) {
    if (printed("command -v python3").empty()) GTEST_SKIP() << "python3 is not installed";
    const auto python = [&](const std::string& program) {
        writeText(dir_.file("out.json"), out_.str());
        writeText(dir_.file("read.py"), "import json, sys\nd = json.load(sys.stdin)\n" + program);
        return printed("python3 '" + dir_.file("read.py") + "' < '" + dir_.file("out.json") + "'");
    };
    // The range counts inside the partition, as --offset does.
    fixtures::writePatternFile(dir_.file("j.img"), 100000, 4);
    fixtures::writeMbr(dir_.file("j.img"), {{0x83, 63, 100}});
    backend_.addDrive(platform::testkit::VirtualDrive(dir_.file("j.img")));
    const Args range{"checksum", "0p1", "--offset", "0x100", "--size", "5000", "--md5", "--sha256"};
    const std::string tab = cli(range).out;
    out_.str(cli(range + Args{"--json"}).out);
    EXPECT_EQ(python("c = d['checksum']\nprint(c['source'], c['offset'] + 0, c['size'] + 0, c['bytes'] + 0, "
                     "'sha1' in c)\nprint('MD5', c['md5'].upper())\nprint('SHA256', c['sha256'].upper())\n"),
              "0p1 256 5000 5000 False\n" + tab);

    const std::string image = dir_.file("s.img");
    fixtures::writeFile(image, {});
    std::filesystem::resize_file(image, 128 << 20);
    probe::ProbeBackend timed(backend_);
    timed.probe.clock = &ui_.fakeClock;
    timed.probe.readMs = [](int64_t) { return 2; };
    ASSERT_EQ(run(speed::speedCommand, {"speed", image, "--json"}, &timed), 0);
    EXPECT_EQ(out_.str().substr(0, 10), "{\"speed\": ") << "no rows as they come";
    EXPECT_EQ(python("s = d['speed']\nr = s['samples'][3]\nprint(len(s['samples']), r['sample'] + 0, "
                     "r['position_mib'] + 0, r['speed_kb_s'] + 0, sep='\\t')\nprint(f\"Average: "
                     "{s['average_kb_s'] + 0} kb/s ({s['average_mb_s'] + 0} Mb/s)\\nMaximum: "
                     "{s['maximum_kb_s'] + 0} kb/s\")\n"),
              "1024\t3\t0.375\t65536.0\nAverage: 65536 kb/s (64 Mb/s)\nMaximum: 65536 kb/s\n");
    ASSERT_EQ(run(speed::seekCommand, {"seek", image, "--json"}, &timed), 0);
    EXPECT_EQ(python("s = d['seek']\nprint(len(s['samples']), s['samples'][3]['time_ms'] + 0)\n"
                     "print(f\"Average: {s['average_ms'] + 0} ms\\n{s['done_percent'] + 0}% done\")\n"),
              "512 2.0\nAverage: 2.0 ms\n100% done\n");
}

} // namespace
