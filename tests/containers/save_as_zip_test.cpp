// "Save as zip" as the menu runs it, with a scripted user and a stand-in progress window, and the
// command line's cdi-save, cdi-load and zip run in-process.

#include "checkers.h"
#include "cli/command_line.h"
#include "containers/commands.h"
#include "containers/save_as_zip.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <utility>

using containers::Outcome;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

namespace fs = std::filesystem;

const std::string kDrive0 = "\\\\.\\PHYSICALDRIVE0";

// Counts the windows alive; its job is the scripted one.
struct Windows {
    ScriptedUi& ui;
    int made = 0;
    int alive = 0;
    containers::ZipWindowFactory factory() {
        return [this] {
            struct Window final : containers::ZipProgressWindow {
                Windows& w;
                explicit Window(Windows& w) : w(w) { ++w.alive; }
                ~Window() override { --w.alive; }
                JobControl& job() override { return w.ui; }
            };
            ++made;
            return std::make_unique<Window>(*this);
        };
    }
};

class SaveAsZipTest : public testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32 // on Windows the kit's own reader stands in for python3 (checkers.h)
        if (const auto why = checkers::missing("python3"); !why.empty()) GTEST_SKIP() << why;
#endif
        fixtures::writePatternFile(dir_.file("d0.img"), 1 << 20, 9);
        backend_.addDrive(VirtualDrive(dir_.file("d0.img")));
        backend_.drive(0).writable = platform::ByteRange::of(0, 0);
        sel_.FileName = kDrive0;
        sel_.Description = "Partition 1";
        sel_.DefaultName = "DRIVE_0P1";
        sel_.Offset = 32256;
        sel_.Size = 100000;
        sel_.CanRead = true;
    }
    void TearDown() override {
        EXPECT_TRUE(backend_.violations().empty());
        EXPECT_EQ(backend_.openStreams(), 0);
    }
    // python's listing of an archive: "name<TAB>size" per entry.
    std::string listing(const std::string& archive) {
        fs::remove_all(dir_.file("x"));
        fs::create_directory(dir_.file("x"));
        const auto v = checkers::extractEntries(archive, dir_.file("x"));
        EXPECT_EQ(v.status, 0) << v.output;
        return v.output;
    }
    std::vector<uint8_t> entry(int index) {
        return fixtures::readFile(dir_.file("x/" + std::to_string(index)));
    }
    std::vector<uint8_t> selected(int64_t size) {
        std::vector<uint8_t> v;
        for (int64_t i = 0; i < size; ++i)
            v.push_back(fixtures::patternByte(sel_.Offset + i, 9));
        return v;
    }

    fixtures::TempDir dir_;
    TestBackend backend_;
    TFileInfo sel_;
};

const std::string kExists =
    "Target file already exists. Do you want to overwrite this file?\nClick yes to overwrite, No to append";

} // namespace

// The first export proposes DefaultName + ".zip"; later ones the last name chosen.
TEST_F(SaveAsZipTest, DialogProposesTheNameOnceThenTheLastChoice) {
    ScriptedUi ui;
    Windows windows{ui};
    std::string last;
    const std::string archive = dir_.file("chosen.zip");
    ui.files = {archive, std::nullopt};
    EXPECT_EQ(containers::SaveAsZipCommand(backend_, ui, windows.factory(), sel_, last).outcome,
              Outcome::Completed);
    EXPECT_EQ(containers::SaveAsZipCommand(backend_, ui, windows.factory(), sel_, last).outcome,
              Outcome::NotStarted);
    ASSERT_EQ(ui.fileDialogs.size(), 2u);
    EXPECT_EQ(ui.fileDialogs[0].initialName, "DRIVE_0P1.zip");
    EXPECT_EQ(ui.fileDialogs[0].filter, "Zip archives|*.zip|Any file|*.*");
    EXPECT_EQ(ui.fileDialogs[0].defaultExt, ".zip");
    EXPECT_TRUE(ui.fileDialogs[0].overwritePrompt);
    EXPECT_EQ(ui.fileDialogs[1].initialName, archive);
    EXPECT_EQ(windows.made, 1);
    EXPECT_EQ(windows.alive, 0);
    EXPECT_TRUE(ui.texts().empty());
    EXPECT_EQ(listing(archive), "DRIVE_0P1\t100000\n");
    EXPECT_EQ(entry(0), selected(sel_.Size));
    EXPECT_EQ(ui.progressLog.back().first, 100);
}

// An existing file: Cancel changes nothing and shows no window; No appends; Yes overwrites; No
// on a file that is no archive leaves it as it was and says so.
TEST_F(SaveAsZipTest, ExistingFileIsOverwrittenAppendedOrLeft) {
    const std::string archive = dir_.file("a.zip");
    const std::string other = dir_.file("notes.txt");
    fixtures::writeFile(other, {'n', 'o', 't', 'e'});
    struct Step {
        std::string file;
        Button answer;
        Outcome outcome;
        std::vector<std::string> texts; // after the question
        std::string listing;
    };
    {
        ScriptedUi ui;
        Windows windows{ui};
        EXPECT_EQ(containers::SaveSelectionAsZip(backend_, ui, windows.factory(), archive, sel_).outcome,
                  Outcome::Completed);
        EXPECT_TRUE(ui.asked.empty()) << "a new file is created without a question";
    }
    const std::vector<Step> steps{
        {archive, Button::No, Outcome::Completed, {}, "DRIVE_0P1\t100000\nDRIVE_0P1\t100000\n"},
        {archive, Button::Cancel, Outcome::NotStarted, {}, "DRIVE_0P1\t100000\nDRIVE_0P1\t100000\n"},
        {archive, Button::Yes, Outcome::Completed, {}, "DRIVE_0P1\t100000\n"},
        {other,
         Button::No,
         Outcome::NotStarted,
         {"Cannot append to " + other + ": it is not a zip archive (no end record in its 4 bytes)"},
         ""},
    };
    for (const auto& s : steps) {
        ScriptedUi ui;
        Windows windows{ui};
        ui.answers = {s.answer};
        EXPECT_EQ(containers::SaveSelectionAsZip(backend_, ui, windows.factory(), s.file, sel_).outcome,
                  s.outcome);
        ASSERT_GE(ui.asked.size(), 1u);
        EXPECT_EQ(ui.asked[0].text, kExists);
        EXPECT_EQ(ui.asked[0].buttons, (std::vector<Button>{Button::Yes, Button::No, Button::Cancel}));
        const auto texts = ui.texts();
        EXPECT_EQ(std::vector<std::string>(texts.begin() + 1, texts.end()), s.texts);
        EXPECT_EQ(windows.made, s.answer == Button::Cancel ? 0 : 1);
        EXPECT_EQ(windows.alive, 0);
        if (!s.listing.empty()) {
            EXPECT_EQ(listing(s.file), s.listing);
        }
    }
    EXPECT_EQ(fixtures::readFile(other), (std::vector<uint8_t>{'n', 'o', 't', 'e'}));
}

// An archive that cannot be created: the window goes first, then the error box says why.
TEST_F(SaveAsZipTest, ArchiveThatCannotBeCreatedClosesTheWindowAndSaysWhy) {
    const std::string archive = dir_.file("no/such/folder/x.zip");
    struct Ui : ScriptedUi {
        std::function<void()> onAsk;
        Button ask(const Question& q) override {
            onAsk();
            return ScriptedUi::ask(q);
        }
    } ui;
    Windows windows{ui};
    int aliveAtError = -1;
    ui.onAsk = [&] { aliveAtError = windows.alive; };
    EXPECT_EQ(containers::SaveSelectionAsZip(backend_, ui, windows.factory(), archive, sel_).outcome,
              Outcome::Failed);
    EXPECT_EQ(windows.made, 1);
    EXPECT_EQ(aliveAtError, 0);
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].text, "Cannot create file \"" + archive + "\". " + fixtures::noSuchPathText());
    EXPECT_EQ(ui.asked[0].icon, Icon::Error);
}

// What cannot be exported leaves an existing archive as it was, even when overwriting was
// chosen: a selection too large for an entry, a source that cannot be opened.
TEST_F(SaveAsZipTest, RefusedExportsLeaveTheArchiveAsItWas) {
    const std::string archive = dir_.file("kept.zip");
    {
        ScriptedUi ui;
        Windows windows{ui};
        ASSERT_EQ(containers::SaveSelectionAsZip(backend_, ui, windows.factory(), archive, sel_).outcome,
                  Outcome::Completed);
    }
    const auto before = fixtures::readFile(archive);
    TFileInfo huge = sel_;
    huge.Size = 2147483648;
    ScriptedUi ui;
    Windows windows{ui};
    ui.answers = {Button::Yes};
    EXPECT_EQ(containers::SaveSelectionAsZip(backend_, ui, windows.factory(), archive, huge).outcome,
              Outcome::NotStarted);
    EXPECT_EQ(ui.texts(),
              std::vector<std::string>{"A zip entry holds at most 2147483647 bytes; 2147483648 bytes "
                                       "were asked. Nothing was added."});
    backend_.drive(0).faults.failOpen = true;
    ui.answers = {Button::Yes};
    EXPECT_EQ(containers::SaveSelectionAsZip(backend_, ui, windows.factory(), archive, sel_).outcome,
              Outcome::Failed);
    EXPECT_EQ(ui.texts().back(), "Failed to open Partition 1 for reading");
    EXPECT_EQ(fixtures::readFile(archive), before);
}

// Stop midway through an entry of many deflate pieces: the export is reported incomplete with the
// bytes the entry holds. A new archive keeps that valid, shorter entry; an archive being replaced
// stays byte for byte as it was.
TEST_F(SaveAsZipTest, StopMidwayIsNeverReportedComplete) {
    const std::string source = dir_.file("big.bin"), archive = dir_.file("stopped.zip");
    fixtures::writePatternFile(source, 6 << 20, 4);
    TFileInfo sel = sel_;
    sel.FileName = source;
    sel.Description = source;
    sel.Offset = 0;
    sel.Size = 6 << 20;
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "replacing" : "new");
        std::vector<uint8_t> before;
        if (replacing) {
            ScriptedUi ui;
            Windows windows{ui};
            ui.answers = {Button::Yes};
            ASSERT_EQ(containers::SaveSelectionAsZip(backend_, ui, windows.factory(), archive, sel_).outcome,
                      Outcome::Completed);
            before = fixtures::readFile(archive);
        }
        ScriptedUi ui;
        Windows windows{ui};
        ui.answers = {Button::Yes};
        ui.onPump = [&ui] { ui.stop = ui.pumps >= 60; };
        const auto report = containers::SaveSelectionAsZip(backend_, ui, windows.factory(), archive, sel);
        EXPECT_EQ(report.outcome, Outcome::Incomplete);
        ASSERT_GT(report.bytes, 1 << 20);
        ASSERT_LT(report.bytes, sel.Size);
        std::vector<std::string> texts{"The entry DRIVE_0P1 in " + archive + " is incomplete: it holds " +
                                       std::to_string(report.bytes) +
                                       " of 6291456 bytes, because the export was stopped."};
        if (replacing) texts.push_back("The earlier " + archive + " was kept as it was.");
        const auto shown = ui.texts();
        EXPECT_EQ(std::vector<std::string>(shown.end() - long(texts.size()), shown.end()), texts);
        if (replacing) {
            EXPECT_EQ(fixtures::readFile(archive), before);
            continue;
        }
        EXPECT_EQ(listing(archive), "DRIVE_0P1\t" + std::to_string(report.bytes) + "\n");
        const auto all = fixtures::readFile(source);
        EXPECT_EQ(entry(0), std::vector<uint8_t>(all.begin(), all.begin() + report.bytes));
    }
}

// --- The command line

namespace {

struct CliRun {
    int status;
    std::string err;
    std::vector<std::string> texts;
};

} // namespace

class ContainersCliTest : public SaveAsZipTest {
protected:
    using Command = int (*)(platform::Backend&, const cli::CommandLine&, Dialogs&, JobControl&, std::ostream&,
                            std::ostream&);
    using Args = std::vector<std::string>;
    // The arguments as tarnwick-cli gets them, command first, parsed as it parses them.
    CliRun run(Command command, const Args& args) {
        ScriptedUi ui;
        std::ostringstream out, err;
        const int status = command(backend_, cli::parseCommandLine(args), ui, ui, out, err);
        return {status, err.str(), ui.texts()};
    }
};

// zip refuses an existing archive without --append or --replace, and leaves it unchanged;
// cdi-save never replaces an image without --replace; cdi-load writes only with --agree.
TEST_F(ContainersCliTest, FlagsDecideWhatIsReplacedAppendedAndOverwritten) {
    const std::string archive = dir_.file("c.zip");
    const Args zip{"zip", "0", archive, "--offset", "32256", "--size", "0x1000"};
    EXPECT_EQ(run(containers::zipCommand, zip).status, 0);
    const auto once = fixtures::readFile(archive);
    const auto refused = run(containers::zipCommand, zip);
    EXPECT_EQ(refused.status, cli::kExitRefused);
    EXPECT_EQ(refused.err,
              archive + " already exists: give --append to add the entry to it, or --replace to replace "
                        "it. Nothing was changed.\n");
    EXPECT_EQ(fixtures::readFile(archive), once);
    auto append = zip;
    append.push_back("--append");
    EXPECT_EQ(run(containers::zipCommand, append).status, 0);
    EXPECT_EQ(listing(archive), "DRIVE_0\t4096\nDRIVE_0\t4096\n");

    const std::string image = dir_.file("c.cdi");
    EXPECT_EQ(
        run(containers::cdiSaveCommand, {"cdi-save", "0", image, "--offset", "32256", "--size", "0x1000"})
            .status,
        0);
    const auto replace = run(containers::cdiSaveCommand, {"cdi-save", "0", image});
    EXPECT_EQ(replace.status, 1);
    EXPECT_EQ(replace.texts,
              std::vector<std::string>{image + " already exists.\nDo you want to replace it?"});
    EXPECT_EQ(run(containers::cdiSaveCommand,
                  {"cdi-save", "0", image, "--replace", "--offset", "32256", "--size", "4096"})
                  .status,
              0);

    fixtures::writePatternFile(dir_.file("target"), 8192, 1);
    const auto target = fixtures::readFile(dir_.file("target"));
    EXPECT_EQ(run(containers::cdiLoadCommand,
                  {"cdi-load", image, dir_.file("target"), "--offset", "4096", "--size", "4096"})
                  .status,
              1);
    EXPECT_EQ(fixtures::readFile(dir_.file("target")), target) << "the gate refused";
    EXPECT_EQ(run(containers::cdiLoadCommand,
                  {"cdi-load", image, dir_.file("target"), "--offset", "4096", "--size", "4096", "--agree"})
                  .status,
              0);
    auto expected = target;
    const auto bytes = selected(4096);
    std::copy(bytes.begin(), bytes.end(), expected.begin() + 4096);
    EXPECT_EQ(fixtures::readFile(dir_.file("target")), expected);
}

TEST_F(ContainersCliTest, UsageMistakesThrowBeforeAnythingIsOpened) {
    const std::vector<std::pair<Command, Args>> cases{
        {containers::zipCommand, {"zip", "0"}},
        {containers::zipCommand, {"zip", "0", "a.zip", "b.zip"}},
        {containers::zipCommand, {"zip", "0", "a.zip", "--append", "--replace"}},
        {containers::zipCommand, {"zip", "0", "a.zip", "--agree"}},
        {containers::cdiSaveCommand, {"cdi-save", "0", "a.cdi", "--offset", "twelve"}},
        {containers::cdiSaveCommand, {"cdi-save", "0", "a.cdi", "--replace=yes"}},
        {containers::cdiLoadCommand, {"cdi-load", "a.cdi", "0", "--append"}},
    };
    for (const auto& [command, args] : cases) {
        const size_t opens = backend_.opens().size();
        EXPECT_THROW(run(command, args), std::invalid_argument);
        EXPECT_EQ(backend_.opens().size(), opens);
    }
}
