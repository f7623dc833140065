// tarnwick-cli run in-process against image files shown as drives, and once as a real program.

#include "cli/cli.h"
#include "cli/command_line.h"
#include "cli/stop_signals.h"
#include "cli/terminal_ui.h"
#include "core/selection.h"
#include "core/user_error.h"
#include "discovery/drives.h"
#include "discovery/selections.h"
#include "jobs/gate.h"
#include "jobs/range_job.h"
#include "platform/platform.h"
#include "support/fixtures.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"
#include "transfer/transfer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <tuple>

#ifdef _WIN32
#include "platform/windows/utf16.h"
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

struct CliRun {
    int status;
    std::string out, err;
};

class CliTest : public testing::Test {
protected:
    void SetUp() override {
        fixtures::writePatternFile(dir_.file("d0.img"), 64 << 20);
        fixtures::writeMbr(dir_.file("d0.img"), {{0x0B, 63, 1000, true}, {0x83, 2048, 4096}});
        fixtures::writePatternFile(dir_.file("d1.img"), 4 << 20);
        backend_.addDrive(VirtualDrive(dir_.file("d0.img")));
        backend_.addDrive(VirtualDrive(dir_.file("d1.img")));
        fixtures::writeFile(dir_.file("blank.img"), {});
    }
    CliRun run(std::vector<std::string> args, const std::string& input = "") {
        std::istringstream in(input);
        std::ostringstream out, err;
        const int status = cli::run(args, backend_, cli::Io{in, out, err, false, false});
        return {status, out.str(), err.str()};
    }
    fixtures::TempDir dir_;
    TestBackend backend_;
};

// Runs the real program with `args`; returns its exit status and fills `out` with its standard output.
int programOutput(const std::vector<std::string>& args, std::string* out);

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

TEST_F(CliTest, DrivesPrintsTheWindowsRowsUnderTheTitles) {
    const CliRun r = run({"drives"});
    EXPECT_EQ(r.status, 0);
    const auto l = splitLines(r.out);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(
        l[0],
        "Index\tMedia type\tCylinders\tTracks per cylinder\tSectors per track\tSector size\tSize (GB)\t"
        "Size (MB)\tSize (MiB)\tSize (bytes)\tCHS Size (bytes)\tGeometry (bytes)\tDevice\tModel\tSerial\t"
        "Bus\tRemovable\tRotational");
    EXPECT_EQ(l[1], "0\tFixed\t8\t255\t63\t512\t0\t67\t64\t67108864\t67108864\t65802240\t" +
                        dir_.file("d0.img") + "\t\t\t\tno\tno");
    EXPECT_EQ(l[2].substr(0, 2), "1\t");
}

// Two USB sticks of one make: the list, a selection and the gate's last look name each one.
TEST_F(CliTest, DrivesSelectionsAndTheGateNameThePhysicalDisk) {
    backend_.drive(0).identity = {"/dev/sdx", "Ultra", "4C530001230405117281", "SanDisk", "usb", true};
    backend_.drive(1).identity = {"/dev/sdy", "Ultra", "4C530001230405117999", "SanDisk", "usb", true};
    const auto rows = splitLines(run({"drives"}).out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_NE(rows[1].find("\t65802240\t/dev/sdx\tSanDisk Ultra\t4C530001230405117281\tusb\tyes\tno"),
              std::string::npos);
    EXPECT_NE(rows[2].find("\t/dev/sdy\tSanDisk Ultra\t4C530001230405117999\tusb\tyes\tno"),
              std::string::npos);
    const std::string facts =
        "Device\t/dev/sdx\nModel\tSanDisk Ultra\nSerial\t4C530001230405117281\nBus\tusb\n"
        "Removable\tyes\nRotational\tno\n";
    for (const char* item : {"0", "0p2"})
        EXPECT_NE(run({"select", item}).out.find("DriveText\t0\n" + facts), std::string::npos) << item;

    // The disk under the target, not the one listed first; a file has no disk line.
    const std::string raw = dir_.file("small.raw"), file = dir_.file("target.bin");
    fixtures::writePatternFile(raw, 4096);
    fixtures::writePatternFile(file, 4096);
    for (const auto& [target, disk] :
         {std::pair<std::string, std::string>{"1", "/dev/sdy  SanDisk Ultra  "
                                                   "4C530001230405117999  4.1 MB"},
          {"0p2", "/dev/sdx  SanDisk Ultra  4C530001230405117281  67.1 MB"},
          {file, ""}}) {
        const std::string shown = disk.empty() ? "" : "Disk: " + disk + "\n";
        const CliRun r = run({"restore", raw, target});
        EXPECT_NE(r.err.find("bytes).\n" + shown + "Refused"), std::string::npos) << r.err;
    }
}

TEST_F(CliTest, OptionsOnlyForTheCommandsThatUseThemAndNothingOpenedOnAMistake) {
    // Two files of one size, so that a copy or restore that ignored an option would go through.
    const std::string src = dir_.file("src.bin"), tgt = dir_.file("tgt.bin");
    fixtures::writePatternFile(src, 16384, 1);
    fixtures::writePatternFile(tgt, 16384, 2);
    const auto before = fixtures::readFile(tgt);
    const std::string dump = dir_.file("new.raw");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{}, "tarnwick-cli: no command given\n"},
        {{"bogus"}, "tarnwick-cli: unknown command bogus\n"},
        {{"drives", "extra"}, "tarnwick-cli: drives takes no arguments\n"},
        {{"select"}, "tarnwick-cli: select needs one SELECTION\n"},
        {{"dump", src}, "tarnwick-cli: dump needs SOURCE and IMAGE\n"},
        {{"dump", src, dump, "extra"}, "too many arguments for dump: 'extra'"},
        {{"select", "0", "--offset"}, "tarnwick-cli: --offset needs a value\n"},
        {{"select", "0", "--offset", "--size", "1"}, "tarnwick-cli: --offset needs a value\n"},
        {{"select", "0", "--offset", "12x"},
         "tarnwick-cli: --offset: '12x' is not a valid integer value (decimal"},
        {{"select", "0", "--frobnicate"}, "tarnwick-cli: unknown option --frobnicate\n"},
        {{"copy", src, tgt, "--offset", "4096", "--size", "512", "--agree"},
         "tarnwick-cli: --offset is not an option of copy (copy takes --source-offset, --source-size, "
         "--target-offset, --target-size, --agree, --buffered, --verify)\n"},
        {{"restore", src, tgt, "--target-offset", "4096", "--target-size", "512", "--agree", "--ignore-size"},
         "--target-offset is not an option of restore"},
        {{"copy", src, tgt, "--agree", "--ignore-size"}, "--ignore-size is not an option of copy"},
        {{"copy", src, tgt, "--source-size", "512", "--source-size=1024", "--agree"},
         "tarnwick-cli: --source-size is given twice (512 and 1024); give it once\n"},
        {{"copy", src, tgt, "--agree=yes"}, "tarnwick-cli: --agree takes no value\n"},
        {{"dump", src, dump, "--agree"}, "--agree is not an option of dump"},
        {{"partitions", src, "--size", "512"},
         "--size is not an option of partitions (partitions takes --offset, --json)"},
        {{"drives", "--offset", "0"}, "--offset is not an option of drives (drives takes --json)"},
        {{"--demo", "drives", "--demo"}, "tarnwick-cli: --demo is given twice; give it once\n"},
        {{"dump", src, dump, "--truncate", "--keep-tail"}, "--truncate and --keep-tail exclude each other"},
        {{"select", "0", "--size=-1"}, "tarnwick-cli: --size: '-1' is negative\n"},
    };
    for (const auto& c : cases) {
        const CliRun r = run(c.args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(c.args);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("usage: tarnwick-cli"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(fixtures::readFile(tgt), before) << "a usage error wrote to the target";
    EXPECT_FALSE(std::filesystem::exists(dump)) << "a usage error created the image";
    // The same options where they belong, in both spellings.
    EXPECT_EQ(run({"copy", src, tgt, "--source-offset=4096", "--source-size", "512", "--target-offset",
                   "0x2000", "--target-size=0x200", "--agree"})
                  .status,
              0);
    const auto after = fixtures::readFile(tgt), source = fixtures::readFile(src);
    for (size_t i = 0; i < after.size(); ++i)
        ASSERT_EQ(after[i], i >= 0x2000 && i < 0x2200 ? source[4096 + i - 0x2000] : before[i]) << i;
}

TEST_F(CliTest, HelpAndVersion) {
    const CliRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* text : {"  copy SOURCE TARGET", "    --source-offset N", "    --ignore-size", "./0",
                             "130, 143, 129", "--version"})
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    const CliRun dump = run({"dump", "--help"});
    EXPECT_EQ(dump.status, 0);
    EXPECT_EQ(dump.out.rfind("usage: tarnwick-cli [--demo] dump SOURCE IMAGE [--offset N] [--size N] "
                             "[--truncate|--keep-tail] [--replace] [--buffered] [--hash LIST]\n",
                             0),
              0u)
        << dump.out;
    EXPECT_NE(run({"checksum", "--help"}).out.find(" [--md5|--sha1|--both] [--sha256] "), std::string::npos);
    EXPECT_EQ(dump.out.find("--source-offset"), std::string::npos);

    std::string version;
    ASSERT_EQ(programOutput({"--version"}, &version), 0);
    const std::string first = version.substr(0, version.find('\n')),
                      number = first.substr(first.find(' ') + 1);
    EXPECT_EQ(first.rfind("tarnwick-cli ", 0), 0u) << version;
    EXPECT_TRUE(std::count(number.begin(), number.end(), '.') == 2 &&
                number.find_first_not_of("0123456789.") == std::string::npos)
        << version;
#ifndef _WIN32 // Windows has neither library
    std::string blkid, udev;
    ASSERT_EQ(fixtures::shell("pkg-config --modversion blkid", &blkid), 0);
    ASSERT_EQ(fixtures::shell("pkg-config --modversion libudev", &udev), 0);
    EXPECT_NE(version.find("libblkid " + blkid.substr(0, blkid.find('\n'))), std::string::npos) << version;
    EXPECT_NE(version.find("libudev " + udev.substr(0, udev.find('\n'))), std::string::npos) << version;
#endif
    EXPECT_NE(version.find("compiler "), std::string::npos) << version;
    EXPECT_NE(version.find("\ncompressed images: "), std::string::npos) << version;
}

// The commands come from the tools' registry: all of them, in the order the help has always had,
// each runnable, and an option means the same kind of value wherever it appears, because the
// arguments are split before the command is known.
TEST(CliRegistry, EveryCommandOnceInOrderAndEachOptionOfOneKind) {
    std::vector<std::string> names;
    std::map<std::string, std::pair<cli::OptionKind, std::string>> kinds;
    for (const auto& command : cli::commands()) {
        names.push_back(command.name);
        EXPECT_NE(command.run, nullptr) << command.name;
        EXPECT_LT(command.fileOperand, int(command.operands.size())) << command.name;
        for (const auto& option : command.options) {
            const auto [it, first] = kinds.emplace(option.name, std::pair(option.kind, option.placeholder));
            EXPECT_TRUE(first || it->second == std::pair(option.kind, option.placeholder))
                << option.name << " in " << command.name;
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"drives", "volumes", "partitions", "select", "dump", "restore",
                                               "copy", "hexdump", "map", "disasm", "checksum", "erase",
                                               "speed", "seek", "rescue", "cdi-save", "cdi-load", "zip"}));
}

// Sizes as dd reads them: K, M, G alone or with iB are powers of 1024, with B powers of 1000;
// s counts 512-byte sectors. Anything else is a usage error, never a guess.
TEST(CliNumbers, SizeSuffixes) {
    const std::vector<std::pair<const char*, int64_t>> sizes{{"4096", 4096},
                                                             {"0x1000", 4096},
                                                             {"4K", 4096},
                                                             {"4k", 4096},
                                                             {"4KiB", 4096},
                                                             {"1M", 1 << 20},
                                                             {"1MiB", 1 << 20},
                                                             {"2G", int64_t(2) << 30},
                                                             {"8s", 4096},
                                                             {"2kB", 2000},
                                                             {"1MB", 1000000},
                                                             {"3GB", 3000000000},
                                                             {"1T", int64_t(1) << 40},
                                                             {"0s", 0}};
    for (const auto& [text, value] : sizes)
        EXPECT_EQ(cli::parseCommandLine({"select", "x", "--size", text}).number("--size"), value) << text;
    for (const char* text : {"4m", "4Ki", "4Kb", "1.5K", "K", "4 K", "0x10K", "-1K", "99999999999E"})
        EXPECT_THROW(cli::parseCommandLine({"select", "x", "--size", text}), cli::UsageError) << text;
}

// --json parses as JSON (Python's reader is the judge), and its values are the tab output's cells,
// the number columns as numbers.
TEST_F(CliTest, JsonListingsHoldTheTabOutputsValues) {
#ifdef _WIN32
    GTEST_SKIP() << "the JSON is judged by python3, which a Windows test cannot run";
#endif
    // A listing's rows under its title line; select's "Name<tab>value" lines are one row.
    std::ofstream(dir_.file("check.py"))
        << "import json, sys\n"
           "name, rows = next(iter(json.load(open(sys.argv[1])).items()))\n"
           "lines = open(sys.argv[2]).read().splitlines()\n"
           "if isinstance(rows, dict):\n"
           "    rows, lines = [rows], ['\\t'.join(l.split('\\t', 1)[1] for l in lines)]\n"
           "else:\n"
           "    lines = lines[1:]\n"
           "assert len(rows) == len(lines)\n"
           "for row, line in zip(rows, lines):\n"
           "    values = [v if isinstance(v, str) else json.dumps(v) for v in row.values()]\n"
           "    assert values == line.split('\\t'), (values, line)\n"
           "print(name, len(rows), sum(isinstance(v, int) for v in rows[0].values()))\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> listings{
        {{"partitions", "0"}, "partitions 2 5\n"},
        {{"drives"}, "drives 2 11\n"},
        {{"select", "0p2", "--offset", "1K"}, "select 1 6\n"},
    };
    for (const auto& [args, expected] : listings) {
        auto withJson = args;
        withJson.push_back("--json");
        const CliRun tab = run(args), json = run(withJson);
        ASSERT_EQ(json.status, tab.status) << json.err;
        std::ofstream(dir_.file("out.json")) << json.out;
        std::ofstream(dir_.file("out.tab")) << tab.out;
        std::string checked;
        EXPECT_EQ(fixtures::shell("python3 " + dir_.file("check.py") + " " + dir_.file("out.json") + " " +
                                      dir_.file("out.tab") + " 2>&1",
                                  &checked),
                  0)
            << checked << json.out;
        EXPECT_EQ(checked, expected) << args[0];
    }
}

TEST_F(CliTest, SelectionsBuildTheWindowsRecord) {
    TFileInfo drive = selections::resolve(backend_, "1");
    EXPECT_EQ(drive.FileName, "\\\\.\\PHYSICALDRIVE1");
    EXPECT_EQ(drive.Size, 4 << 20);
    EXPECT_EQ(drive.DefaultName, "DRIVE_1");
    EXPECT_EQ(drive.Description, "LOGICAL DRIVE 1   ( 4 MiB ) offset: 0 size: 4194304");

    TFileInfo narrowed = selections::resolve(backend_, "0", 0x200, 1000);
    EXPECT_EQ(narrowed.Offset, 512);
    EXPECT_EQ(narrowed.Size, 1000);
    EXPECT_EQ(narrowed.BaseSize, 64 << 20);

    const std::string path = dir_.file("plain.bin");
    fixtures::writePatternFile(path, 777);
    TFileInfo file = selections::resolve(backend_, path);
    EXPECT_EQ(file.Size, 777);
    EXPECT_TRUE(file.CanRead && file.CanWrite);

    EXPECT_THROW(selections::resolve(backend_, "7"), UserError);
    EXPECT_THROW(selections::resolve(backend_, dir_.file("missing")), UserError);
}

TEST_F(CliTest, SelectShowsTheRecordAndTheDeviceBehindIt) {
    const CliRun r = run({"select", "0", "--offset=0x10", "--size", "32"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Offset\t16\n"), std::string::npos);
    EXPECT_NE(r.out.find("Size\t32\n"), std::string::npos);
    EXPECT_NE(r.out.find("Device\t" + dir_.file("d0.img")), std::string::npos);
    const CliRun missing = run({"select", "9"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "There is no physical drive 9.\n");
}

// --offset and --size count inside the item named; the record keeps absolute values, and a range
// that leaves the item is refused.
TEST_F(CliTest, RangesCountInsideTheItem) {
    constexpr int64_t kPart = 2048 * 512, kPartSize = 4096 * 512, kVol = 1 << 20;
    platform::testkit::VirtualVolume volume;
    volume.space = platform::FreeSpace{0, kVol, 0};
    backend_.addVolume(volume);
    const std::string file = dir_.file("plain.bin");
    fixtures::writePatternFile(file, 777);
    const struct {
        std::string spec;
        std::optional<int64_t> offset, size;
        int64_t absolute, length; // length -1: refused
    } cases[] = {
        {"1", 4096, {}, 4096, (4 << 20) - 4096},
        {"0p2", 512, {}, kPart + 512, kPartSize - 512},
        {"0p2", {}, 1024, kPart, 1024},
        {"0p2", 512, 512, kPart + 512, 512},
        {"0p2", kPartSize - 512, 1024, 0, -1},
        {"0p2", kPartSize + 1, {}, 0, -1},
        {"C:", 4096, {}, 4096, kVol - 4096},
        {"C:", {}, kVol + 1, 0, -1},
        {file, 700, {}, 700, 77},
        {file, 700, 78, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.spec + " " + std::to_string(c.offset.value_or(-1)));
        if (c.length < 0) {
            EXPECT_THROW(selections::resolve(backend_, c.spec, c.offset, c.size), UserError);
            continue;
        }
        const TFileInfo t = selections::resolve(backend_, c.spec, c.offset, c.size);
        EXPECT_EQ(std::pair(t.Offset, t.Size), std::pair(c.absolute, c.length));
        EXPECT_EQ(t.Description, t.DisplayText + " offset: " + std::to_string(c.absolute) +
                                     " size: " + std::to_string(c.length));
    }
    // The erase writes the partition's second sector, not the drive's; one past its end, nothing.
    auto expected = fixtures::readFile(dir_.file("d0.img"));
    std::fill(expected.begin() + kPart + 512, expected.begin() + kPart + 1024, 0xFF);
    EXPECT_EQ(run({"erase", "0p2", "--offset", "512", "--size", "512", "--pattern", "FF", "--agree"}).status,
              0);
    const CliRun past = run(
        {"erase", "0p2", "--offset=512", "--size", std::to_string(kPartSize), "--pattern", "00", "--agree"});
    EXPECT_EQ(past.status, 1);
    EXPECT_NE(past.err.find("leaves it (offsets and sizes count from its start)"), std::string::npos);
    EXPECT_TRUE(fixtures::readFile(dir_.file("d0.img")) == expected) << "a byte outside the range changed";
}

TEST_F(CliTest, PartitionsAndPartitionSelections) {
    const CliRun r = run({"partitions", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto l = splitLines(r.out);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0],
              "Index\tDrive\tboot\tCHS start\tType\tCHS end\tstart (#sector)\tsize (#sector)\tsize (bytes)\t"
              "size (MiB)\tKind\tFile system");
    EXPECT_EQ(l[2], "2\t0\t\t(C0 H0 S0)\t83\t(C0 H0 S0)\t2048\t4096\t2097152\t2\tPrimary\tLinux native");

    TFileInfo second = selections::resolve(backend_, "0p2");
    EXPECT_EQ(second.Offset, 2048 * 512);
    EXPECT_EQ(second.Size, 4096 * 512);
    EXPECT_EQ(second.DefaultName, "DRIVE_0P2");
    EXPECT_THROW(selections::resolve(backend_, "0p3"), UserError);

    // A blank drive: the window's message on stderr, an empty list, and status 1.
    const CliRun blank = run({"partitions", dir_.file("blank.img")});
    EXPECT_EQ(blank.status, 1);
    EXPECT_EQ(blank.err, "Failed to read MBR\n");
    EXPECT_EQ(run({"partitions", "5"}).err, "Failed to open device\n");
}

// The digests printed while imaging are the standard tools' digests of the selected bytes, even
// when the dump's last block runs past the selection and is kept.
TEST_F(CliTest, DigestsWhileImagingAreThoseOfTheSelection) {
    const auto disk = fixtures::readFile(dir_.file("d0.img"));
    const std::string selected = dir_.file("selected.bin");
    fixtures::writeFile(selected, std::vector<uint8_t>(disk.begin() + 1000, disk.begin() + 11000));
    std::string md5, sha1, sha256;
    for (auto [tool, name, out] :
         {std::tuple{"md5sum", "MD5 ", &md5}, {"sha1sum", "SHA1 ", &sha1}, {"sha256sum", "SHA256 ", &sha256}})
        *out = name + helpers::toolDigest(tool, selected) + "\n";
    const std::string expected = md5 + sha1 + sha256;
    CliRun r = run({"dump", "0", dir_.file("d.raw"), "--offset", "1000", "--size", "10000", "--keep-tail",
                    "--hash", "md5,sha1,sha256"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fixtures::readFile(dir_.file("d.raw")).size(), 16384u);
    EXPECT_EQ(r.out, expected);
    EXPECT_NE(r.err.find("Digests of the first 10000 bytes"), std::string::npos) << r.err;

    r = run(
        {"cdi-save", "0", dir_.file("d.cdi"), "--offset", "1000", "--size", "10000", "--hash", "sha256,md5"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, sha256 + md5);

    r = run({"zip", "0", dir_.file("d.zip"), "--offset", "1000", "--size", "10000", "--hash", "sha1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, sha1);

    r = run({"checksum", "0", "--offset", "1000", "--size", "10000", "--sha256"});
    EXPECT_EQ(r.out, sha256);

    // A wrong list is a usage error, before any file is made.
    EXPECT_EQ(run({"dump", "0", dir_.file("e.raw"), "--hash", "md5,crc"}).status, 2);
    EXPECT_EQ(run({"dump", "0", dir_.file("e.raw"), "--hash", "sha1,SHA1"}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("e.raw")));
}

// "-" as the image: exactly the range's bytes to standard output, and standard input written onto
// the range and nowhere else; what has nothing to act on then is a usage error before anything opens.
TEST_F(CliTest, ImagesThroughStandardStreams) {
    const auto d1 = fixtures::readFile(dir_.file("d1.img"));
    const CliRun dumped = run({"dump", "1", "-", "--offset", "1MiB", "--size", "10000", "--hash", "md5"});
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_EQ(dumped.out, std::string(d1.begin() + (1 << 20), d1.begin() + (1 << 20) + 10000));
    EXPECT_NE(dumped.err.find("MD5 "), std::string::npos) << "digests beside the data, on standard error";

    const std::string input(5000, '\x5A');
    for (const auto& [given, status] : {std::pair<size_t, int>{5000, 0}, {4096, 1}}) {
        fixtures::writePatternFile(dir_.file("d1.img"), 4 << 20);
        const CliRun restored =
            run({"restore", "-", "1", "--offset", "8s", "--size", "5000", "--agree"}, input.substr(0, given));
        EXPECT_EQ(restored.status, status) << restored.err;
        auto expected = d1;
        std::fill(expected.begin() + 4096, expected.begin() + 4096 + std::streamoff(given), 0x5A);
        EXPECT_TRUE(fixtures::readFile(dir_.file("d1.img")) == expected) << given << " bytes given";
    }
    fixtures::writePatternFile(dir_.file("d1.img"), 4 << 20);
    // A compressed image through a pipe: the same bytes as the file, loaded back from the pipe; a
    // cut-off stream writes nothing.
    const CliRun saved = run({"cdi-save", "1", "-", "--size", "64K"});
    ASSERT_EQ(saved.status, 0) << saved.err;
    ASSERT_EQ(run({"cdi-save", "1", dir_.file("c.cdi"), "--size", "64K"}).status, 0);
    const auto file = fixtures::readFile(dir_.file("c.cdi"));
    EXPECT_EQ(saved.out, std::string(file.begin(), file.end()));
    EXPECT_EQ(run({"cdi-load", "-", "1", "--offset", "1M", "--size", "64K", "--agree"}, saved.out).status, 0);
    EXPECT_EQ(run({"cdi-load", "-", "1", "--size", "64K", "--agree"}, saved.out.substr(0, 600)).status, 1);
    auto loaded = d1;
    std::copy(d1.begin(), d1.begin() + (64 << 10), loaded.begin() + (1 << 20));
    EXPECT_TRUE(fixtures::readFile(dir_.file("d1.img")) == loaded);
    fixtures::writePatternFile(dir_.file("d1.img"), 4 << 20);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"dump", "1", "-", "--replace"},
                                                 {"dump", "1", "-", "--keep-tail"},
                                                 {"restore", "-", "1", "--agree", "--verify"},
                                                 {"restore", "-", "1", "--agree", "--ignore-size"},
                                                 {"cdi-save", "1", "-", "--replace"}}) {
        const CliRun r = run(args, input);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(fixtures::readFile(dir_.file("d1.img")) == d1);
}

TEST_F(CliTest, DumpRestoreAndCopyAnswerOnlyWhatTheFlagsSay) {
    const std::string raw = dir_.file("d0.raw");
    EXPECT_EQ(run({"dump", "0", raw}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw), fixtures::readFile(dir_.file("d0.img")));

    // An existing image is replaced only with --replace.
    fixtures::writeFile(raw, {1, 2, 3});
    CliRun r = run({"dump", "0", raw, "--size", "100"});
    EXPECT_EQ(r.status, 3) << "refused";
    EXPECT_NE(r.err.find("already exists.\nDo you want to replace it?\n-> No"), std::string::npos);
    EXPECT_EQ(fixtures::readFile(raw).size(), 3u);

    // A file of the user's that happens to bear the name of our side file is left alone.
    fixtures::writeFile(raw + ".partial", {9, 9});
    EXPECT_EQ(run({"dump", "0", raw, "--replace", "--size", "100", "--keep-tail"}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw).size(), 8192u);
    EXPECT_EQ(fixtures::readFile(raw + ".partial"), (std::vector<uint8_t>{9, 9}));
    EXPECT_EQ(run({"cdi-save", "0", dir_.file("p.cdi"), "--size", "100"}).status, 0);
    fixtures::writeFile(dir_.file("p.cdi.partial"), {7});
    EXPECT_EQ(run({"cdi-save", "0", dir_.file("p.cdi"), "--replace", "--size", "200"}).status, 0);
    EXPECT_EQ(fixtures::readFile(dir_.file("p.cdi.partial")), (std::vector<uint8_t>{7}));

    // A range that ends inside a block: cut back to it when nobody is asked (the Yes the question
    // recommends) and with --truncate, kept whole with --keep-tail.
    EXPECT_EQ(run({"dump", "0", raw, "--replace", "--offset", "1000", "--size", "10000"}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw).size(), 10000u);
    EXPECT_EQ(
        run({"dump", "0", raw, "--replace", "--keep-tail", "--offset", "1000", "--size", "10000"}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw).size(), 16384u);
    EXPECT_EQ(
        run({"dump", "0", raw, "--replace", "--truncate", "--offset", "1000", "--size", "10000"}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw).size(), 10000u);

    // Restoring needs --agree; nothing is written without it.
    const auto before = fixtures::readFile(dir_.file("d1.img"));
    r = run({"restore", raw, "1", "--offset", "4096", "--size", "10000"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("Refused: pass --agree"), std::string::npos);
    EXPECT_EQ(fixtures::readFile(dir_.file("d1.img")), before);
    r = run({"restore", raw, "1", "--offset", "4096", "--size", "20000", "--agree"});
    EXPECT_EQ(r.status, 3) << "the length differs and --ignore-size was not given";
    EXPECT_EQ(fixtures::readFile(dir_.file("d1.img")), before);
    r = run({"restore", raw, "1", "--offset", "4096", "--size", "10000", "--agree"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Writing image file to device successfully completed"), std::string::npos);
    const auto after = fixtures::readFile(dir_.file("d1.img"));
    const auto source = fixtures::readFile(dir_.file("d0.img"));
    for (size_t i = 0; i < after.size(); ++i) {
        const bool inside = i >= 4096 && i < 4096 + 10000;
        ASSERT_EQ(after[i], inside ? source[1000 + i - 4096] : before[i]) << i;
    }

    r = run({"copy", "0", "1", "--source-size", "4194304", "--agree"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fixtures::readFile(dir_.file("d1.img")),
              std::vector<uint8_t>(source.begin(), source.begin() + (4 << 20)));
    EXPECT_EQ(run({"copy", "0", "1", "--agree"}).err, "Size differs\n");
    EXPECT_EQ(run({"copy", "0", "1", "--agree"}).status, 1);
}

TEST(CliTerminal, SafeAnswerUnlessAFlagOrAPersonAnswers) {
    std::istringstream none;
    std::ostringstream err;
    TerminalUi ui(none, false, err, false);
    const Question truncate{"Truncate?", Icon::Warning, {Button::Yes, Button::No}, Button::No, "truncate"};
    EXPECT_EQ(ui.ask(truncate), Button::No);
    EXPECT_NE(err.str().find("Truncate?\n"), std::string::npos);
    ui.answer("truncate", Button::Yes);
    EXPECT_EQ(ui.ask(truncate), Button::Yes);
    TestBackend machine;
    EXPECT_FALSE(gate::ConfirmOverwrite(machine, ui, TFileInfo{}))
        << "the gate refuses when nobody can agree";
    ui.setAgreed(true);
    EXPECT_TRUE(gate::ConfirmOverwrite(machine, ui, TFileInfo{}));

    std::istringstream typed("maybe\ny\n");
    TerminalUi person(typed, true, err, false);
    EXPECT_EQ(person.ask(truncate), Button::Yes) << "unknown answers are asked again";
}

TEST(GateDiskLine, NamesWhatTheDiskReports) {
    const struct {
        platform::DriveIdentity disk;
        char separator;
        std::string line;
    } cases[] = {
        {{"/dev/sda", "Samsung SSD 860", "S3Z", "ATA", "ata", false, false, 500107862016},
         ',',
         "Disk: /dev/sda  Samsung SSD 860  S3Z  500,1 GB"}, // a SCSI layer's "ATA" is no maker
        {{"/dev/nvme0n1", "SAMSUNG MZVL", "", "Samsung", "nvme", false, false, 999999999},
         '.',
         "Disk: /dev/nvme0n1  SAMSUNG MZVL  999.9 MB"}, // the maker once, whatever its case
        {{"/dev/loop3", "", "", "", "loop", false, true, 4096}, '.', "Disk: /dev/loop3  4096 bytes"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(gate::diskLine(c.disk, c.separator), c.line);
}

TEST(CliTerminal, GateTakesTheEnginesRuleAndAsksItsQuestion) {
    TFileInfo target;
    target.Description = "LOGICAL DRIVE 1   ( 4 MiB ) offset: 512 size: 1024";
    const std::string question =
        gate::secondQuestion(target.Description) + "\n[Yes/No/Cancel] (default No): ";
    const struct {
        std::string typed;
        bool passes;
        bool asked; // the second question follows the typed agreement
    } cases[] = {
        {"  I AGREE \nyes\n", true, true},
        {"\ti agree\x7f\ny\n", true, true}, // control characters at the ends are trimmed
        {"i agree\n\n", false, true},       // Enter takes the safe answer
        {"i agree\nc\n", false, true},
        {"i agree\nno\n", false, true},
        {"i agre\nyes\n", false, false},
        {"i  agree\nyes\n", false, false},
        {"i agreed\nyes\n", false, false},
        {"", false, false}, // end of input
    };
    for (const auto& c : cases) {
        std::istringstream in(c.typed);
        std::ostringstream err;
        TerminalUi terminal(in, true, err, false);
        TestBackend machine;
        EXPECT_EQ(gate::ConfirmOverwrite(machine, terminal, target), c.passes)
            << testing::PrintToString(c.typed);
        EXPECT_EQ(err.str().find(question) != std::string::npos, c.asked) << err.str();
        EXPECT_NE(err.str().find("enter 'i agree' (case insensitive)"), std::string::npos)
            << "the notice is shown";
    }
}

// Bytes, rate and time left, measured from when the action offered Stop; a status that says more
// than the percentage after them.
TEST(CliTerminal, ProgressLineShowsBytesRateAndTimeLeft) {
    using std::chrono::milliseconds;
    constexpr int64_t MiB = 1 << 20, GiB = int64_t(1) << 30;
    const struct {
        int64_t bytes, total;
        int elapsedMs;
        char separator;
        std::string line;
        std::string status = "12.34% done";
    } cases[] = {
        {512 * MiB, GiB, 6400, '.', " 50%  512.0 MiB of 1.0 GiB  83.9 MB/s  0:07 left"},
        {512 * MiB, GiB, 6400, ',', " 50%  512,0 MiB of 1,0 GiB  83,9 MB/s  0:07 left"},
        {1000, 4096, 1000, '.', " 24%  1000 B of 4.0 KiB  0.0 MB/s  0:04 left"},
        {MiB, 10 * GiB, 1000, '.', "  0%  1.0 MiB of 10.0 GiB  1.0 MB/s  2:50:39 left"},
        {64 * MiB, 64 * MiB, 500, '.', "100%  64.0 MiB of 64.0 MiB  134.2 MB/s  0:00 left"},
        {1048535, 2 * MiB, 0, '.', " 50%  1.0 MiB of 2.0 MiB"}, // no time has passed: no rate yet
        {MiB, 2 * MiB, 0, '.', " 50%  1.0 MiB of 2.0 MiB  splitting: 512 bytes bad",
         "splitting: 512 bytes bad"},
    };
    for (const auto& c : cases) {
        std::istringstream in;
        std::ostringstream err;
        std::chrono::steady_clock::time_point now{};
        TerminalUi ui(in, false, err, true, [&] { return now; });
        ui.setDecimalSeparator(c.separator);
        ui.stoppable(true);
        now += milliseconds(c.elapsedMs);
        ui.progress({c.bytes, c.total, jobs::percentOf(c.bytes, c.total), c.status});
        EXPECT_EQ(err.str(), "\r" + c.line);
    }
}

TEST(CliTerminal, ProgressRedrawnFiveTimesASecondAndTheLastDrawnBeforeAMessage) {
    using std::chrono::milliseconds;
    std::istringstream in;
    std::ostringstream quiet, shown;
    std::chrono::steady_clock::time_point now{};
    TerminalUi a(in, false, quiet, false, [&] { return now; }),
        b(in, false, shown, true, [&] { return now; });
    a.stoppable(true);
    b.stoppable(true);
    const int64_t total = 10 << 20;
    for (int ms : {100, 250, 300, 350, 400}) {
        now = std::chrono::steady_clock::time_point{} + milliseconds(ms);
        const int64_t bytes = int64_t(ms) * 10240; // 10 KiB a millisecond: 10.2 MB/s
        a.progress({bytes, total, jobs::percentOf(bytes, total), ""});
        b.progress({bytes, total, jobs::percentOf(bytes, total), ""});
    }
    b.message("Dump successfully completed");
    a.message("Dump successfully completed");
    EXPECT_EQ(quiet.str(), "Dump successfully completed\n")
        << "no progress line when stderr is not a terminal";
    EXPECT_EQ(shown.str(),
              "\r 10%  1000.0 KiB of 10.0 MiB  10.2 MB/s  0:01 left" // 100 ms
              "\r 29%  2.9 MiB of 10.0 MiB  10.2 MB/s  0:01 left   " // 300 ms (250 held back),
                                                                     // wiping the longer line
              "\r 39%  3.9 MiB of 10.0 MiB  10.2 MB/s  0:01 left"    // 400 ms, held back, then drawn
              "\nDump successfully completed\n");
}

// --progress writes plain lines, one a second, where no terminal redraws them.
TEST(CliTerminal, ProgressLogIsOneLineASecond) {
    std::istringstream in;
    std::ostringstream log;
    std::chrono::steady_clock::time_point now{};
    TerminalUi ui(in, false, log, false, [&] { return now; });
    ui.setProgressLog(true);
    ui.stoppable(true);
    const int64_t total = 10 << 20;
    for (int ms : {0, 500, 1000, 1999, 2000}) {
        now = std::chrono::steady_clock::time_point{} + std::chrono::milliseconds(ms);
        ui.progress({int64_t(ms) * 1024, total, jobs::percentOf(int64_t(ms) * 1024, total), ""});
    }
    ui.endProgress();
    EXPECT_EQ(log.str(), "  0%  0 B of 10.0 MiB\n"
                         " 10%  1000.0 KiB of 10.0 MiB  1.0 MB/s  0:10 left\n"
                         " 20%  2.0 MiB of 10.0 MiB  1.0 MB/s  0:09 left\n");
}

// --quiet: nothing on standard error when the command succeeds, everything it said when it fails.
TEST_F(CliTest, QuietSaysNothingUnlessTheCommandFails) {
    const std::string image = dir_.file("q.img");
    const CliRun done = run({"--quiet", "dump", "1", image});
    EXPECT_EQ(done.status, 0);
    EXPECT_EQ(done.err, "");
    const CliRun refused = run({"dump", "1", image, "--quiet"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find(image + " already exists."), std::string::npos) << refused.err;
    EXPECT_EQ(run({"--quiet", "--progress", "drives"}).status, 2);
}

TEST(CliProgram, DumpOfOneLoopDeviceRestoredOntoAnotherIsIdentical) {
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("a.img"), 6 << 20, 3);
    fixtures::writePatternFile(dir.file("b.img"), 6 << 20, 4);
    fixtures::LoopDevice a(dir.file("a.img")), b(dir.file("b.img"));
    if (!a.available() || !b.available()) GTEST_SKIP() << a.reason();
    const std::string cli = TARNWICK_CLI;
    ASSERT_EQ(
        fixtures::shell(cli + " dump " + a.node() + " " + dir.file("a.raw") + " </dev/null 2>/dev/null"), 0);
    ASSERT_EQ(
        fixtures::shell(cli + " restore " + dir.file("a.raw") + " " + b.node() + " </dev/null 2>/dev/null"),
        3)
        << "refused without --agree";
    ASSERT_EQ(fixtures::shell("cmp -s " + a.node() + " " + b.node()), 1);
    ASSERT_EQ(fixtures::shell(cli + " restore " + dir.file("a.raw") + " " + b.node() +
                              " --agree </dev/null 2>/dev/null"),
              0);
    EXPECT_EQ(fixtures::shell("cmp -s " + a.node() + " " + b.node()), 0);
}

using SteadyClock = std::chrono::steady_clock;

void pause10ms() {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

#ifdef _WIN32
// A handle closed when the object goes.
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { reset(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    void reset(HANDLE h = nullptr) {
        if (h_) ::CloseHandle(h_);
        h_ = h == INVALID_HANDLE_VALUE ? nullptr : h;
    }

private:
    HANDLE h_;
};

// One argument as the C runtime splits a command line: quoted, with the backslashes before a
// quote doubled.
std::wstring quotedArgument(const std::wstring& arg) {
    std::wstring q = L"\"";
    size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        q.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
        slashes = 0;
        q += c;
    }
    q.append(2 * slashes, L'\\');
    return q + L"\"";
}

// The program beside this test program: the build's path to it is the build machine's, which a
// cross-built test may not be able to open.
std::wstring programPath() {
    wchar_t self[MAX_PATH] = {};
    const DWORD n = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::filesystem::path beside =
        std::filesystem::path(std::wstring(self, n)).parent_path() / L"tarnwick-cli.exe";
    return std::filesystem::exists(beside) ? beside.wstring() : platform::windows::wide(TARNWICK_CLI);
}

// tarnwick-cli as a process of its own: standard input and output from the given handles (NUL when
// null), standard error into a file, TMP and TEMP (where the demo drive goes) in `dir`. Killed
// when a failed check leaves it running.
class CliProcess {
public:
    CliProcess(const fixtures::TempDir& dir, const std::vector<std::string>& args, HANDLE out = nullptr,
               HANDLE in = nullptr)
        : errFile_(dir.file("stderr.txt")) {
        std::wstring line = quotedArgument(programPath());
        for (const auto& a : args)
            line += L" " + quotedArgument(platform::windows::wide(a));
        // The environment with TMP and TEMP replaced, sorted as CreateProcess wants it.
        std::vector<std::wstring> vars{L"TMP=" + platform::windows::wide(dir.file("tmp")),
                                       L"TEMP=" + platform::windows::wide(dir.file("tmp"))};
        if (wchar_t* block = ::GetEnvironmentStringsW()) {
            for (const wchar_t* v = block; *v; v += std::wcslen(v) + 1) {
                const std::wstring var = v;
                if (_wcsnicmp(v, L"TMP=", 4) != 0 && _wcsnicmp(v, L"TEMP=", 5) != 0) vars.push_back(var);
            }
            ::FreeEnvironmentStringsW(block);
        }
        std::sort(vars.begin(), vars.end(), [](const std::wstring& a, const std::wstring& b) {
            return _wcsicmp(a.c_str(), b.c_str()) < 0;
        });
        std::wstring environment;
        for (const auto& v : vars)
            environment += v + L'\0';
        environment += L'\0';

        // Only these three handles are inherited, each as an inheritable copy.
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        const auto nul = [&](DWORD access) {
            return ::CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                 OPEN_EXISTING, 0, nullptr);
        };
        const auto copy = [](HANDLE h) {
            HANDLE c = nullptr;
            ::DuplicateHandle(::GetCurrentProcess(), h, ::GetCurrentProcess(), &c, 0, TRUE,
                              DUPLICATE_SAME_ACCESS);
            return c;
        };
        Handle childIn(in ? copy(in) : nul(GENERIC_READ)), childOut(out ? copy(out) : nul(GENERIC_WRITE)),
            childErr(::CreateFileW(platform::windows::wide(errFile_).c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!childIn.get() || !childOut.get() || !childErr.get()) return;
        HANDLE handles[] = {childIn.get(), childOut.get(), childErr.get()};
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        std::vector<char> attributes(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
        if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
        ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, sizeof(handles),
                                    nullptr, nullptr);
        STARTUPINFOEXW info{};
        info.StartupInfo.cb = sizeof(info);
        info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        info.StartupInfo.hStdInput = childIn.get();
        info.StartupInfo.hStdOutput = childOut.get();
        info.StartupInfo.hStdError = childErr.get();
        info.lpAttributeList = list;
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                             CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, environment.data(),
                             nullptr, &info.StartupInfo, &started)) {
            ::CloseHandle(started.hThread);
            process_.reset(started.hProcess);
        }
        ::DeleteProcThreadAttributeList(list);
    }
    ~CliProcess() {
        if (running()) {
            ::TerminateProcess(process_.get(), 1);
            ::WaitForSingleObject(process_.get(), INFINITE);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool started() const { return process_.get() != nullptr; }
    bool running() {
        if (process_.get() && !ended_ && ::WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0)
            ended_ = ::GetExitCodeProcess(process_.get(), &status_) != 0;
        return process_.get() && !ended_;
    }
    // False when the deadline passed first.
    bool waitUntil(SteadyClock::time_point deadline) {
        while (running() && SteadyClock::now() < deadline)
            pause10ms();
        return !running();
    }
    std::string status() const { return ended_ ? "exit status " + std::to_string(status_) : "running"; }
    int exitStatus() const { return ended_ ? int(status_) : -1; }
    std::string err() const {
        const auto bytes = fixtures::readFile(errFile_);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    std::string errFile_;
    Handle process_;
    DWORD status_ = 0;
    bool ended_ = false;
};

int programOutput(const std::vector<std::string>& args, std::string* out) {
    fixtures::TempDir dir;
    std::filesystem::create_directory(dir.file("tmp"));
    SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    Handle file(::CreateFileW(platform::windows::wide(dir.file("stdout.txt")).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ, &plain, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.get()) return -1;
    CliProcess cli(dir, args, file.get());
    file.reset();
    if (!cli.started() || !cli.waitUntil(SteadyClock::now() + std::chrono::seconds(60))) return -1;
    const auto bytes = fixtures::readFile(dir.file("stdout.txt"));
    *out = std::string(bytes.begin(), bytes.end());
    return cli.exitStatus();
}
#else
std::string describeStatus(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return std::string("killed by ") + strsignal(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// tarnwick-cli as a process of its own: standard input from /dev/null, standard output into
// `out` (/dev/null when -1), standard error into a file, TMPDIR (where the demo drive goes) in
// `dir`, signals at their defaults as a shell leaves them. Killed when a failed check leaves it
// running.
class CliProcess {
public:
    CliProcess(const fixtures::TempDir& dir, const std::vector<std::string>& args, int out = -1, int in = -1)
        : errFile_(dir.file("stderr.txt")) {
        std::vector<std::string> argv{TARNWICK_CLI};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<std::string> env{"TMPDIR=" + dir.file("tmp")};
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("TMPDIR=", 0) != 0) env.emplace_back(*e);
        auto pointers = [](std::vector<std::string>& strings) {
            std::vector<char*> p;
            for (auto& s : strings)
                p.push_back(s.data());
            p.push_back(nullptr);
            return p;
        };
        auto argp = pointers(argv), envp = pointers(env);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (in < 0)
            posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, in, 0);
        if (out < 0)
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_addopen(&actions, 2, errFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        if (posix_spawn(&pid_, argp[0], &actions, &attributes, argp.data(), envp.data()) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ~CliProcess() {
        if (running()) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() {
        if (pid_ > 0 && !ended_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) ended_ = true;
        return pid_ > 0 && !ended_;
    }
    // False when the deadline passed first.
    bool waitUntil(SteadyClock::time_point deadline) {
        while (running() && SteadyClock::now() < deadline)
            pause10ms();
        return !running();
    }
    void signal(int number) { ASSERT_EQ(::kill(pid_, number), 0); }
    std::string status() const { return ended_ ? describeStatus(status_) : "running"; }
    std::string err() const {
        const auto bytes = fixtures::readFile(errFile_);
        return std::string(bytes.begin(), bytes.end());
    }

private:
    std::string errFile_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

// Writing into a pipe whose reader has gone fails with EPIPE instead of ending the test.
class IgnoreSigpipe {
public:
    IgnoreSigpipe() {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~IgnoreSigpipe() { ::sigaction(SIGPIPE, &previous_, nullptr); }

private:
    struct sigaction previous_ = {};
};

int programOutput(const std::vector<std::string>& args, std::string* out) {
    std::string command = TARNWICK_CLI;
    for (const auto& a : args)
        command += " '" + a + "'";
    return fixtures::shell(command, out);
}
#endif

size_t entries(const std::string& folder) {
    return size_t(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// A restore reading a named pipe that is fed slowly, stopped by a signal: it says what it wrote,
// wrote only what arrived and only inside its range, exits with 128 + the signal, and the demo
// drive's temporary folder goes with it.
TEST(CliProgram, StopSignalEndsARestoreFromAPipeCleanly) {
#ifdef _WIN32
    GTEST_SKIP() << "a named pipe and POSIX signals; Windows stops the program on console events, which a "
                    "test cannot send to it";
#else
    const IgnoreSigpipe ignoreSigpipe;
    constexpr int64_t kOffset = 4096, kSize = 1 << 20, kBlock = 8192;
    const struct {
        int signal;
        int status;
        const char* name;
        bool standardInput; // the image is "-", the program's standard input a pipe
    } cases[] = {{SIGTERM, 143, "SIGTERM", false},
                 {SIGINT, 130, "SIGINT", false},
                 {SIGHUP, 129, "SIGHUP", false},
                 {SIGINT, 130, "SIGINT", true}};
    for (const auto& [signal, expected, name, standardInput] : cases) {
        SCOPED_TRACE(std::string(name) + (standardInput ? " on standard input" : ""));
        fixtures::TempDir dir;
        std::filesystem::create_directory(dir.file("tmp"));
        const std::string fifo = dir.file("image.fifo"), target = dir.file("target.bin");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        fixtures::writePatternFile(target, kOffset + kSize + 4096, 7); // canaries on both sides of the range
        const auto before = fixtures::readFile(target);
        int pipeEnds[2] = {-1, -1};
        if (standardInput) {
            ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
        }
        std::vector<std::string> args{"--demo",
                                      "restore",
                                      standardInput ? "-" : fifo,
                                      target,
                                      "--offset",
                                      std::to_string(kOffset),
                                      "--size",
                                      std::to_string(kSize),
                                      "--agree"};
        if (!standardInput) args.push_back("--ignore-size");
        CliProcess cli(dir, args, -1, pipeEnds[0]);
        if (standardInput) ::close(pipeEnds[0]);
        ASSERT_TRUE(cli.started());
        const auto deadline = SteadyClock::now() + std::chrono::seconds(30);

        // The writing end, once the restore has opened the pipe for reading.
        int fd = pipeEnds[1];
        while (fd < 0 && cli.running() && SteadyClock::now() < deadline) {
            fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) pause10ms();
        }
        ASSERT_GE(fd, 0) << "the restore never opened the pipe; " << cli.status() << "\n" << cli.err();
        std::vector<uint8_t> fed;
        auto feed = [&](int64_t count) {
            std::vector<uint8_t> data;
            for (int64_t i = 0; i < count; ++i)
                data.push_back(fixtures::patternByte(int64_t(fed.size()) + i, 9));
            const ssize_t n = ::write(fd, data.data(), data.size());
            if (n > 0) fed.insert(fed.end(), data.begin(), data.begin() + n);
        };
        feed(3 * kBlock);
        // Once the three blocks are in the target, the restore waits for the fourth.
        auto arrived = [&] {
            const auto now = fixtures::readFile(target);
            return std::equal(fed.begin(), fed.end(), now.begin() + kOffset);
        };
        while (!arrived() && cli.running() && SteadyClock::now() < deadline)
            pause10ms();
        EXPECT_EQ(entries(dir.file("tmp")), 1u) << "the demo drive's folder is there while the program runs";
        cli.signal(signal);
        // Keep the pipe trickling, as a slow writer would, until the program has gone.
        while (cli.running() && SteadyClock::now() < deadline) {
            feed(kBlock);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::close(fd);
        ASSERT_FALSE(cli.running()) << "the program did not stop";
        EXPECT_EQ(cli.status(), "exit status " + std::to_string(expected));

        const std::string err = cli.err();
        const auto report = err.find("wrote only ");
        ASSERT_NE(report, std::string::npos) << err;
        size_t digits = 0;
        const int64_t written = std::stoll(err.substr(report + 11), &digits);
        EXPECT_EQ(err.substr(report + 11 + digits, 29), " bytes of 1048576 bytes total") << err;
        EXPECT_TRUE(written == 3 * kBlock || written == 4 * kBlock)
            << written << " bytes; the program was asked to stop while it waited for the fourth block";
        EXPECT_NE(err.find(std::string("\ntarnwick-cli: stopped by ") + name + ".\n"), std::string::npos)
            << err;
        auto expectedTarget = before;
        std::copy(fed.begin(), fed.begin() + std::min<int64_t>(written, int64_t(fed.size())),
                  expectedTarget.begin() + kOffset);
        EXPECT_EQ(fixtures::readFile(target), expectedTarget)
            << "only the blocks that arrived, inside the range";
        EXPECT_EQ(entries(dir.file("tmp")), 0u) << "the demo drive's folder is left behind";
    }
#endif
}

// An output pipe whose reader has gone (tarnwick-cli --demo hexdump 0 | head -1) ends the program
// quietly, as it ends other tools, and takes the demo drive's folder with it; a command that
// prints while it works stops at its next step instead of running on.
// The program's own standard streams carry an image byte for byte through the shell's pipes.
TEST(CliProgram, AnImageThroughGzipAndBack) {
#ifdef _WIN32
    // No gzip here: the program's standard output into a file, and that file as its standard input.
    fixtures::TempDir dir;
    std::filesystem::create_directory(dir.file("tmp"));
    fixtures::writePatternFile(dir.file("src.img"), 3 << 20, 7);
    fixtures::writePatternFile(dir.file("dst.img"), 3 << 20, 9);
    SECURITY_ATTRIBUTES plain{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
    {
        Handle out(::CreateFileW(platform::windows::wide(dir.file("p.raw")).c_str(), GENERIC_WRITE, 0, &plain,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(out.get());
        CliProcess cli(dir, {"dump", dir.file("src.img"), "-", "--offset", "1M", "--size", "1M"}, out.get());
        out.reset();
        ASSERT_TRUE(cli.started());
        ASSERT_TRUE(cli.waitUntil(SteadyClock::now() + std::chrono::seconds(60)));
        ASSERT_EQ(cli.status(), "exit status 0") << cli.err();
    }
    {
        Handle in(::CreateFileW(platform::windows::wide(dir.file("p.raw")).c_str(), GENERIC_READ,
                                FILE_SHARE_READ, &plain, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(in.get());
        CliProcess cli(dir, {"restore", "-", dir.file("dst.img"), "--agree", "--offset", "2M"}, nullptr,
                       in.get());
        in.reset();
        ASSERT_TRUE(cli.started());
        ASSERT_TRUE(cli.waitUntil(SteadyClock::now() + std::chrono::seconds(60)));
        ASSERT_EQ(cli.status(), "exit status 0") << cli.err();
    }
    const auto src = fixtures::readFile(dir.file("src.img")), dst = fixtures::readFile(dir.file("dst.img"));
    EXPECT_EQ(fixtures::readFile(dir.file("p.raw")).size(), 1u << 20);
    EXPECT_TRUE(std::equal(src.begin() + (1 << 20), src.begin() + (2 << 20), dst.begin() + (2 << 20)));
#else
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("src.img"), 3 << 20, 7);
    fixtures::writePatternFile(dir.file("dst.img"), 3 << 20, 9);
    const std::string cli = TARNWICK_CLI;
    ASSERT_EQ(fixtures::shell(cli + " dump " + dir.file("src.img") +
                              " - --offset 1M --size 1M 2>/dev/null | gzip -1 > " + dir.file("p.gz")),
              0);
    ASSERT_EQ(fixtures::shell("zcat " + dir.file("p.gz") + " | " + cli + " restore - " + dir.file("dst.img") +
                              " --agree --offset 2M 2>/dev/null"),
              0);
    const auto src = fixtures::readFile(dir.file("src.img")), dst = fixtures::readFile(dir.file("dst.img"));
    EXPECT_TRUE(std::equal(src.begin() + (1 << 20), src.begin() + (2 << 20), dst.begin() + (2 << 20)));
#endif
}

TEST(CliProgram, AClosedOutputPipeEndsTheProgramQuietlyAndCleanly) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--demo", "hexdump", "0"}, {"--demo", "seek", "0"}}) {
        SCOPED_TRACE(args[1]);
        fixtures::TempDir dir;
        std::filesystem::create_directory(dir.file("tmp"));
        // The reader is gone before the first line.
#ifdef _WIN32
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        ASSERT_TRUE(::CreatePipe(&readEnd, &writeEnd, nullptr, 0));
        ::CloseHandle(readEnd);
        const Handle writer(writeEnd);
        const auto started = SteadyClock::now();
        CliProcess cli(dir, args, writer.get());
#else
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        ::close(fds[0]);
        const auto started = SteadyClock::now();
        CliProcess cli(dir, args, fds[1]);
        ::close(fds[1]);
#endif
        ASSERT_TRUE(cli.started());
        ASSERT_TRUE(cli.waitUntil(started + std::chrono::seconds(20))) << "still running";
        EXPECT_LT(SteadyClock::now() - started, std::chrono::seconds(15))
            << "the seek test (26 s) ran on unread";
        EXPECT_EQ(cli.status(), "exit status 141");
        EXPECT_EQ(cli.err(), "");
        EXPECT_EQ(entries(dir.file("tmp")), 0u) << "the demo drive's folder is left behind";
    }
}

// The same restore while its pipe has no writer at all: the open that waits for one gives up.
TEST(CliProgram, StopSignalEndsARestoreWaitingForAPipeWriter) {
#ifdef _WIN32
    GTEST_SKIP() << "a named pipe and POSIX signals; Windows stops the program on console events, which a "
                    "test cannot send to it";
#else
    fixtures::TempDir dir;
    std::filesystem::create_directory(dir.file("tmp"));
    const std::string fifo = dir.file("image.fifo"), target = dir.file("target.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fixtures::writePatternFile(target, 3 * 4096, 7);
    const auto before = fixtures::readFile(target);
    CliProcess cli(dir, {"--demo", "restore", fifo, target, "--offset", "4096", "--size", "4096", "--agree",
                         "--ignore-size"});
    ASSERT_TRUE(cli.started());
    // The warning comes just before the image is opened.
    const auto deadline = SteadyClock::now() + std::chrono::seconds(30);
    while (cli.err().find("before using the import function.\n") == std::string::npos && cli.running() &&
           SteadyClock::now() < deadline)
        pause10ms();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(cli.running()) << cli.status() << "\n" << cli.err();
    cli.signal(SIGTERM);
    ASSERT_TRUE(cli.waitUntil(SteadyClock::now() + std::chrono::seconds(10)))
        << "a pipe without a writer held the program after SIGTERM";
    EXPECT_EQ(cli.status(), "exit status 143");
    EXPECT_NE(cli.err().find("Failed to open " + fifo + " for reading\n"), std::string::npos) << cli.err();
    EXPECT_NE(cli.err().find("\ntarnwick-cli: stopped by SIGTERM.\n"), std::string::npos) << cli.err();
    EXPECT_EQ(fixtures::readFile(target), before);
    EXPECT_EQ(entries(dir.file("tmp")), 0u) << "the demo drive's folder is left behind";
#endif
}

// A drive number names the device it stood for when the command began: a lower drive detached
// while the restore waits for its image makes the number lead to the next device, which is not
// written.
TEST(CliProgram, ADriveNumberThatNowLeadsElsewhereIsNotWritten) {
#ifdef _WIN32
    GTEST_SKIP() << "loop devices and named pipes are Linux's";
#else
    fixtures::TempDir dir;
    std::vector<std::unique_ptr<fixtures::LoopDevice>> loops;
    for (int i = 0; i < 3; ++i) {
        fixtures::writePatternFile(dir.file(std::to_string(i) + ".img"), 1 << 20, uint8_t(i + 1));
        loops.push_back(std::make_unique<fixtures::LoopDevice>(dir.file(std::to_string(i) + ".img")));
        if (!loops.back()->available()) GTEST_SKIP() << loops.back()->reason();
    }
    // The three by drive number: the lowest goes away, the middle one is the target.
    std::vector<std::pair<int, int>> numbered; // drive number, loop
    auto& system = platform::systemBackend();
    for (int n = 0; n < 100; ++n) {
        const std::string node = system.physicalDriveNode(n);
        if (node.empty()) break;
        for (int i = 0; i < 3; ++i)
            if (node == loops[size_t(i)]->node()) numbered.emplace_back(n, i);
    }
    if (numbered.size() != 3) GTEST_SKIP() << "the loop devices are not in the drive list here";
    const int target = numbered[1].first;
    std::vector<std::vector<uint8_t>> before;
    for (int i = 0; i < 3; ++i)
        before.push_back(fixtures::readFile(dir.file(std::to_string(i) + ".img")));

    std::filesystem::create_directory(dir.file("tmp"));
    const std::string fifo = dir.file("image.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    CliProcess cli(dir, {"restore", fifo, std::to_string(target), "--agree", "--ignore-size"});
    ASSERT_TRUE(cli.started());
    const auto deadline = SteadyClock::now() + std::chrono::seconds(30);
    while (cli.err().find("before using the import function.\n") == std::string::npos && cli.running() &&
           SteadyClock::now() < deadline)
        pause10ms();
    ASSERT_TRUE(cli.running()) << cli.status() << "\n" << cli.err();
    loops[size_t(numbered[0].second)]->detach();
    {
        IgnoreSigpipe ignore;
        std::ofstream feed(fifo, std::ios::binary);
        const std::vector<char> image(1 << 20, '\x5A');
        feed.write(image.data(), std::streamsize(image.size()));
    }
    ASSERT_TRUE(cli.waitUntil(SteadyClock::now() + std::chrono::seconds(30)));
    EXPECT_EQ(cli.status(), "exit status 1");
    EXPECT_NE(cli.err().find("now leads to another device or file. Nothing was read or written."),
              std::string::npos)
        << cli.err();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(fixtures::readFile(dir.file(std::to_string(i) + ".img")), before[size_t(i)]);
#endif
}

// A partition of a GUID-partitioned drive is selected like any other row: its dump holds the
// same bytes as its partition node.
TEST(CliProgram, AGuidPartitionDumpsAsItsNode) {
#ifdef _WIN32
    GTEST_SKIP() << "loop devices, partition nodes and sgdisk are Linux's";
#else
    if (fixtures::shell("command -v sgdisk >/dev/null") != 0) GTEST_SKIP() << "sgdisk (gdisk) is needed";
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("gpt.img"), 16 << 20, 5);
    ASSERT_EQ(fixtures::shell("sgdisk -o -n 1:0:+1M -n 2:0:+2M -n 3:0:+3M '" + dir.file("gpt.img") +
                              "' >/dev/null"),
              0);
    fixtures::LoopDevice loop(dir.file("gpt.img"));
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    fixtures::PartitionNodes parts(loop.node());
    if (!parts.available()) GTEST_SKIP() << "partx cannot add partitions";
    int drive = -1;
    for (int n = 0; n < 100 && drive < 0; ++n) {
        const std::string node = platform::systemBackend().physicalDriveNode(n);
        if (node.empty()) break;
        if (node == loop.node()) drive = n;
    }
    if (drive < 0) GTEST_SKIP() << "the loop device is not in the drive list here";
    // Row 1 is the protective entry; rows 2 to 4 the three partitions.
    const std::string cli = TARNWICK_CLI;
    ASSERT_EQ(fixtures::shell(cli + " dump " + std::to_string(drive) + "p4 '" + dir.file("p3.raw") +
                              "' </dev/null 2>/dev/null"),
              0);
    EXPECT_EQ(fixtures::shell("cmp -s '" + dir.file("p3.raw") + "' " + parts.node(3)), 0);
    EXPECT_EQ(std::filesystem::file_size(dir.file("p3.raw")), 3u << 20);
#endif
}

// The handlers themselves, in a child process: the first signal comes back from a blocking read
// (no SA_RESTART) with the stop and the platform's interrupt requested; a second one ends it.
TEST(CliProgram, FirstStopSignalInterruptsABlockingReadASecondOneKills) {
#ifdef _WIN32
    GTEST_SKIP() << "fork, POSIX timers and signal handlers; Windows stops on console events instead";
#else
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        cli::installStopHandlers();
        std::istringstream in;
        std::ostringstream err;
        TerminalUi ui(in, false, err, false);
        if (ui.stopRequested()) ::_exit(19);
        ::alarm(5); // a read that is not interrupted ends the child by SIGALRM
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) ::_exit(20);
        // The signal arrives 100 ms into a read of a pipe nobody writes.
        sigevent event{};
        event.sigev_notify = SIGEV_SIGNAL;
        event.sigev_signo = SIGTERM;
        timer_t timer;
        itimerspec in100ms{};
        in100ms.it_value.tv_nsec = 100'000'000;
        if (::timer_create(CLOCK_MONOTONIC, &event, &timer) != 0 ||
            ::timer_settime(timer, 0, &in100ms, nullptr) != 0)
            ::_exit(21);
        char byte;
        if (::read(pipeFds[0], &byte, 1) != -1 || errno != EINTR) ::_exit(22);
        if (cli::stopSignal() != SIGTERM) ::_exit(23);
        if (!platform::interruptRequested()) ::_exit(24);
        if (!ui.stopRequested()) ::_exit(26); // what the running action checks after every block
        ::raise(SIGHUP);
        ::_exit(25); // still alive after the second signal
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(describeStatus(status), std::string("killed by ") + strsignal(SIGHUP));
#endif
}

// Two loop devices over files of one size differ in their Device column, and only there.
TEST(CliProgram, ListsLoopDevicesLikeTheWindow) {
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("a.img"), 20 << 20);
    fixtures::writePatternFile(dir.file("b.img"), 20 << 20);
    fixtures::LoopDevice a(dir.file("a.img")), b(dir.file("b.img"));
    if (!a.available() || !b.available()) GTEST_SKIP() << a.reason() << b.reason();
    std::string out;
    ASSERT_EQ(fixtures::shell(std::string(TARNWICK_CLI) + " drives", &out), 0);
    auto& system = platform::systemBackend();
    std::map<std::string, std::string> lines; // by node, with the node taken out
    for (const auto& row : drives::scan(system)) {
        const std::string node = system.physicalDriveNode(row.index);
        if (node != a.node() && node != b.node()) continue;
        std::string line;
        for (const auto& t : row.tableCells())
            line += "\t" + t;
        EXPECT_NE(out.find(line.substr(1) + "\n"), std::string::npos);
        EXPECT_NE(line.find("\t20971520\t"), std::string::npos);
        EXPECT_NE(line.find("\t" + node + "\t\t\tloop\tno\t"), std::string::npos) << line;
        std::string rest = line.substr(line.find('\t', 1)); // without the drive number
        if (const size_t at = rest.find(node); at != std::string::npos) rest.erase(at, node.size());
        lines[node] = rest;
    }
    if (lines.size() < 2)
        GTEST_SKIP() << "an earlier drive of this machine refused to open and ended the scan";
    EXPECT_EQ(lines[a.node()], lines[b.node()]);
}

} // namespace
