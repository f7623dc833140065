// tarnwick-cli run in-process against image files shown as drives, and once as a real program.

#include "cli/cli.h"
#include "cli/terminal_ui.h"
#include "app/selection.h"
#include "app/user_error.h"
#include "discovery/drives.h"
#include "platform/test/test_backend.h"
#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <sstream>

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

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST_F(CliTest, DrivesPrintsTheWindowsRowsUnderTheTitles) {
    const CliRun r = run({"drives"});
    EXPECT_EQ(r.status, 0);
    const auto l = splitLines(r.out);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "Index\tMedia type\tCylinders\tTracks per cylinder\tSectors per track\tSector size\tSize (GB)\t"
                    "Size (MB)\tSize (MiB)\tSize (bytes)\tCHS Size (bytes)\tGeometry (bytes)");
    EXPECT_EQ(l[1], "0\tFixed\t8\t255\t63\t512\t0\t67\t64\t67108864\t67108864\t65802240");
    EXPECT_EQ(l[2].substr(0, 2), "1\t");
}

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"bogus"}, {"drives", "extra"}, {"select"}, {"select", "0", "--offset"},
             {"select", "0", "--offset", "12x"}, {"select", "0", "--frobnicate"}}) {
        const CliRun r = run(args);
        EXPECT_EQ(r.status, 2) << testing::PrintToString(args);
        EXPECT_NE(r.err.find("usage: tarnwick-cli"), std::string::npos);
    }
    EXPECT_EQ(run({"--help"}).status, 0);
}

TEST_F(CliTest, SelectionsBuildTheWindowsRecord) {
    TFileInfo drive = cli::resolveSelection(backend_, "1");
    EXPECT_EQ(drive.FileName, "\\\\.\\PHYSICALDRIVE1");
    EXPECT_EQ(drive.Size, 4 << 20);
    EXPECT_EQ(drive.DefaultName, "DRIVE_1");
    EXPECT_EQ(drive.Description, "LOGICAL DRIVE 1   ( 4 MiB ) offset: 0 size: 4194304");

    TFileInfo narrowed = cli::resolveSelection(backend_, "0", 0x200, 1000);
    EXPECT_EQ(narrowed.Offset, 512);
    EXPECT_EQ(narrowed.Size, 1000);
    EXPECT_EQ(narrowed.BaseSize, 64 << 20);

    const std::string path = dir_.file("plain.bin");
    fixtures::writePatternFile(path, 777);
    TFileInfo file = cli::resolveSelection(backend_, path);
    EXPECT_EQ(file.Size, 777);
    EXPECT_TRUE(file.CanRead && file.CanWrite);

    EXPECT_THROW(cli::resolveSelection(backend_, "7"), UserError);
    EXPECT_THROW(cli::resolveSelection(backend_, dir_.file("missing")), UserError);
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

TEST_F(CliTest, PartitionsAndPartitionSelections) {
    const CliRun r = run({"partitions", "0"});
    EXPECT_EQ(r.status, 0) << r.err;
    const auto l = splitLines(r.out);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "Index\tDrive\tboot\tCHS start\tType\tCHS end\tstart (#sector)\tsize (#sector)\tsize (bytes)\t"
                    "size (MiB)\tKind\tFile system");
    EXPECT_EQ(l[2], "2\t0\t\t(C0 H0 S0)\t83\t(C0 H0 S0)\t2048\t4096\t2097152\t2\tPrimary\tLinux native");

    TFileInfo second = cli::resolveSelection(backend_, "0p2");
    EXPECT_EQ(second.Offset, 2048 * 512);
    EXPECT_EQ(second.Size, 4096 * 512);
    EXPECT_EQ(second.DefaultName, "DRIVE_0P2");
    EXPECT_THROW(cli::resolveSelection(backend_, "0p3"), UserError);

    // A blank drive: the window's message on stderr, an empty list, and status 1.
    const CliRun blank = run({"partitions", dir_.file("blank.img")});
    EXPECT_EQ(blank.status, 1);
    EXPECT_EQ(blank.err, "Failed to read MBR\n");
    EXPECT_EQ(run({"partitions", "5"}).err, "Failed to open device\n");
}

TEST_F(CliTest, DumpRestoreAndCopyAnswerOnlyWhatTheFlagsSay) {
    const std::string raw = dir_.file("d0.raw");
    EXPECT_EQ(run({"dump", "0", raw}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw), fixtures::readFile(dir_.file("d0.img")));

    // An existing image is replaced only with --replace.
    fixtures::writeFile(raw, {1, 2, 3});
    CliRun r = run({"dump", "0", raw, "--size", "100"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("already exists.\nDo you want to replace it?\n-> No"), std::string::npos);
    EXPECT_EQ(fixtures::readFile(raw).size(), 3u);

    // A range that ends inside a block: kept whole without --truncate, cut with it.
    EXPECT_EQ(run({"dump", "0", raw, "--replace", "--offset", "1000", "--size", "10000"}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw).size(), 16384u);
    EXPECT_EQ(run({"dump", "0", raw, "--replace", "--truncate", "--offset", "1000", "--size", "10000"}).status, 0);
    EXPECT_EQ(fixtures::readFile(raw).size(), 10000u);

    // Restoring needs --agree; nothing is written without it.
    const auto before = fixtures::readFile(dir_.file("d1.img"));
    r = run({"restore", raw, "1", "--offset", "4096", "--size", "10000"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Refused: pass --agree"), std::string::npos);
    EXPECT_EQ(fixtures::readFile(dir_.file("d1.img")), before);
    r = run({"restore", raw, "1", "--offset", "4096", "--size", "20000", "--agree"});
    EXPECT_EQ(r.status, 1) << "the length differs and --ignore-size was not given";
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

TEST(TerminalAnswers, SafeAnswerUnlessAFlagOrAPersonAnswers) {
    std::istringstream none;
    std::ostringstream err;
    TerminalUi ui(none, false, err, false);
    const Question truncate{"Truncate?", Icon::Warning, {Button::Yes, Button::No}, Button::No, "truncate"};
    EXPECT_EQ(ui.ask(truncate), Button::No);
    EXPECT_NE(err.str().find("Truncate?\n"), std::string::npos);
    ui.answer("truncate", Button::Yes);
    EXPECT_EQ(ui.ask(truncate), Button::Yes);
    EXPECT_FALSE(ui.confirmOverwrite(TFileInfo{})) << "the gate refuses when nobody can agree";
    ui.setAgreed(true);
    EXPECT_TRUE(ui.confirmOverwrite(TFileInfo{}));

    std::istringstream typed("maybe\ny\n");
    TerminalUi person(typed, true, err, false);
    EXPECT_EQ(person.ask(truncate), Button::Yes) << "unknown answers are asked again";
    std::istringstream agree("  I AGREE \nyes\n");
    TerminalUi gate(agree, true, err, false);
    EXPECT_TRUE(gate.confirmOverwrite(TFileInfo{}));
    std::istringstream disagree("i agre\n");
    TerminalUi gate2(disagree, true, err, false);
    EXPECT_FALSE(gate2.confirmOverwrite(TFileInfo{}));
}

TEST(TerminalAnswers, ProgressLineOnlyOnATerminal) {
    std::istringstream in;
    std::ostringstream quiet, shown;
    TerminalUi a(in, false, quiet, false), b(in, false, shown, true);
    a.progress({50, 100, 50, "50.00% done"});
    b.progress({50, 100, 50, "50.00% done"});
    b.message("Dump successfully completed");
    EXPECT_EQ(quiet.str(), "");
    EXPECT_EQ(shown.str().substr(0, 17), "\r[50%] 50.00% don");
    EXPECT_NE(shown.str().find("\nDump successfully completed\n"), std::string::npos);
}

TEST(CliProgram, DumpOfOneLoopDeviceRestoredOntoAnotherIsIdentical) {
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("a.img"), 6 << 20, 3);
    fixtures::writePatternFile(dir.file("b.img"), 6 << 20, 4);
    fixtures::LoopDevice a(dir.file("a.img")), b(dir.file("b.img"));
    if (!a.available() || !b.available()) GTEST_SKIP() << a.reason();
    const std::string cli = TARNWICK_CLI;
    ASSERT_EQ(fixtures::shell(cli + " dump " + a.node() + " " + dir.file("a.raw") + " </dev/null 2>/dev/null"), 0);
    ASSERT_EQ(fixtures::shell(cli + " restore " + dir.file("a.raw") + " " + b.node() + " </dev/null 2>/dev/null"), 1)
        << "refused without --agree";
    ASSERT_EQ(fixtures::shell("cmp -s " + a.node() + " " + b.node()), 1);
    ASSERT_EQ(fixtures::shell(cli + " restore " + dir.file("a.raw") + " " + b.node() +
                              " --agree </dev/null 2>/dev/null"),
              0);
    EXPECT_EQ(fixtures::shell("cmp -s " + a.node() + " " + b.node()), 0);
}

TEST(CliProgram, ListsALoopDeviceLikeTheWindow) {
    fixtures::TempDir dir;
    const std::string image = dir.file("loop.img");
    fixtures::writePatternFile(image, 20 << 20);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    std::string out;
    ASSERT_EQ(fixtures::shell(std::string(TARNWICK_CLI) + " drives", &out), 0);
    auto& system = platform::systemBackend();
    for (const auto& row : drives::scan(system)) {
        if (system.physicalDriveNode(row.index) != loop.node()) continue;
        std::string line;
        for (const auto& t : row.texts()) line += (line.empty() ? "" : "\t") + t;
        EXPECT_NE(out.find(line + "\n"), std::string::npos);
        EXPECT_NE(line.find("\t20971520\t"), std::string::npos);
        return;
    }
    GTEST_SKIP() << "an earlier drive of this machine refused to open and ended the scan";
}

} // namespace
