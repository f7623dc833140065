// Dump, restore and direct copy over image files shown as drives. Every write is fenced: the
// test backend refuses and records writes outside the selected range, and canary bytes around it
// are checked after each run.

#include "jobs/range_job.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "transfer/transfer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>

using fixtures::patternByte;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;
using transfer::Outcome;

namespace {

constexpr int64_t kDisk = 1 << 20;

TFileInfo range(const std::string& fileName, int64_t offset, int64_t size, const std::string& description) {
    TFileInfo info;
    info.FileName = fileName;
    info.Description = description;
    info.DefaultName = "DRIVE_0";
    info.Offset = offset;
    info.Size = size;
    info.CanRead = info.CanWrite = true;
    return info;
}

const std::string kDrive0 = "\\\\.\\PHYSICALDRIVE0";
const std::string kDrive1 = "\\\\.\\PHYSICALDRIVE1";

// A copy that did not copy every byte never says "Copying completed".
std::string copyIncomplete(int64_t copied, int64_t size) {
    return "Copying incomplete, copied only " + std::to_string(copied) + " bytes of " + std::to_string(size) +
           " bytes total.";
}

std::string incomplete(int64_t written, int64_t size) {
    return "Dump incomplete, wrote only " + std::to_string(written) + " bytes of " + std::to_string(size) +
           " bytes total. It is unlikely you can import this backup again.";
}

class TransferTest : public testing::Test {
protected:
    void SetUp() override {
        fixtures::writePatternFile(dir_.file("d0.img"), kDisk, 0);
        fixtures::writePatternFile(dir_.file("d1.img"), kDisk, 99);
        backend_.addDrive(VirtualDrive(dir_.file("d0.img")));
        backend_.addDrive(VirtualDrive(dir_.file("d1.img")));
    }
    void TearDown() override {
        EXPECT_TRUE(backend_.violations().empty()) << backend_.violations().front();
        EXPECT_EQ(backend_.openStreams(), 0) << "every handle is closed";
    }
    // Only [offset, offset + size) of a drive may be written.
    void fence(int drive, int64_t offset, int64_t size) {
        backend_.drive(drive).writable = platform::ByteRange::of(offset, size);
    }
    // Every byte of the drive outside the range still holds its original pattern.
    void expectUntouchedOutside(const std::string& image, uint8_t seed, int64_t offset, int64_t size) {
        const auto bytes = fixtures::readFile(image);
        ASSERT_EQ(int64_t(bytes.size()), kDisk);
        for (int64_t i = 0; i < kDisk; ++i) {
            if (i >= offset && i < offset + size) continue;
            ASSERT_EQ(bytes[size_t(i)], patternByte(i, seed)) << "canary byte " << i << " changed";
        }
    }
    std::string image(const std::string& name) { return dir_.file(name); }

    fixtures::TempDir dir_;
    TestBackend backend_;
    ScriptedUi ui_;
};

// --- Dump

TEST_F(TransferTest, DumpOfWholeBlocksDropsTheExtraBlockAndSucceeds) {
    ui_.files = {image("out.raw")};
    const auto r = transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, 0, 4 * 8192, "Logical drive 0"));
    EXPECT_EQ(r.outcome, Outcome::Completed);
    EXPECT_EQ(ui_.texts(), std::vector<std::string>{"Dump successfully completed"});
    const auto bytes = fixtures::readFile(image("out.raw"));
    ASSERT_EQ(bytes.size(), 4u * 8192);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], patternByte(int64_t(i)));
    EXPECT_EQ(ui_.fileDialogs.at(0).initialName, "DRIVE_0.raw");
    EXPECT_TRUE(ui_.fileDialogs[0].overwritePrompt);
    EXPECT_EQ(ui_.modeLog, (std::vector<std::string>{"busy", "stoppable", "unstoppable", "idle"}));
    EXPECT_EQ(ui_.progressLog.back(), std::make_pair(100, std::string("100.00% done")));
}

TEST_F(TransferTest, DumpPastTheEndOfTheSelectionAsksToTruncate) {
    for (const Button answer : {Button::Yes, Button::No}) {
        ScriptedUi ui;
        ui.files = {image("part.raw")};
        ui.answers = {Button::Ok, answer}; // the position message, then the truncation question
        const auto r = transfer::dumpToFile(backend_, ui, ui, range(kDrive0, 32256, 10000, "part"));
        EXPECT_EQ(r.outcome, Outcome::Completed);
        ASSERT_EQ(ui.asked.size(), answer == Button::Yes ? 3u : 2u);
        EXPECT_EQ(ui.asked[0].text, "32256") << "the position reached";
        EXPECT_EQ(
            ui.asked[1].text,
            "Dump complete, but was able to dump more bytes from the device than reported.\n16384 bytes were "
            "dumped, 10000 bytes were reported as available\nYou can choose to truncate the output file\n"
            "Truncating is highly suggested if you want to write the image back to the device.\nSome "
            "devices, "
            "like mp3-players, use a 'hidden' area to store internal settings.\nOverwriting those settings "
            "can "
            "lead to unpredicted results, including overwriting firmware or other issues\nIf you are unsure, "
            "choose 'yes'.\nDo you want to truncate the output file?");
        EXPECT_EQ(ui.asked[1].icon, Icon::Question);
        EXPECT_EQ(ui.asked[1].defaultButton, Button::No);
        const auto bytes = fixtures::readFile(image("part.raw"));
        if (answer == Button::Yes) {
            EXPECT_EQ(ui.asked[2].text, "File was truncated to 10000 bytes. 6384 bytes were dropped");
            ASSERT_EQ(bytes.size(), 10000u);
        } else {
            ASSERT_EQ(bytes.size(), 16384u);
        }
        for (size_t i = 0; i < bytes.size(); ++i)
            ASSERT_EQ(bytes[i], patternByte(32256 + int64_t(i)));
    }
}

TEST_F(TransferTest, DumpOfADeviceThatEndsEarlyOrFailsIsIncomplete) {
    backend_.drive(0).faults.endsAt = 20000;
    ui_.files = {image("a.raw")};
    auto r = transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, 0, 100000, "d"));
    EXPECT_EQ(r.outcome, Outcome::Incomplete);
    EXPECT_EQ(ui_.texts().back(), incomplete(20000, 100000));

    backend_.drive(0).faults = {};
    backend_.drive(0).faults.readErrorAt = 3 * 8192 + 17;
    ScriptedUi ui;
    ui.files = {image("b.raw")};
    r = transfer::dumpToFile(backend_, ui, ui, range(kDrive0, 0, 100000, "d"));
    EXPECT_EQ(ui.texts().back(), incomplete(3 * 8192, 100000));
    EXPECT_EQ(fixtures::readFile(image("b.raw")).size(), 3u * 8192);
}

TEST_F(TransferTest, DumpChecksFreeSpaceBeforeAnythingIsOpened) {
    backend_.setFreeSpace(platform::FreeSpace{10000, 0, 0});
    ui_.files = {image("c.raw")};
    EXPECT_EQ(transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, 0, 10000, "d")).outcome,
              Outcome::Completed)
        << "free space equal to the size passes";

    ScriptedUi ui;
    ui.files = {image("d.raw")};
    const size_t opensBefore = backend_.opens().size();
    EXPECT_EQ(transfer::dumpToFile(backend_, ui, ui, range(kDrive0, 0, 10001, "d")).outcome,
              Outcome::NotStarted);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Target drive does not have enough free space"});
    EXPECT_EQ(backend_.opens().size(), opensBefore);
    EXPECT_FALSE(std::filesystem::exists(image("d.raw")));
}

TEST_F(TransferTest, DumpOpenFailuresCancelAndStopLeaveTheWindowUsable) {
    // Cancelled file dialog: nothing opened, buttons enabled again.
    ui_.files = {std::nullopt};
    EXPECT_EQ(transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, 0, 100, "d")).outcome,
              Outcome::NotStarted);
    EXPECT_EQ(ui_.modeLog.back(), "idle");
    EXPECT_TRUE(backend_.opens().empty());

    backend_.drive(0).faults.failOpen = true;
    ScriptedUi a;
    a.files = {image("x.raw")};
    EXPECT_EQ(transfer::dumpToFile(backend_, a, a, range(kDrive0, 0, 100, "d")).outcome, Outcome::Failed);
    EXPECT_EQ(a.texts(),
              std::vector<std::string>{"Failed to exclusively open drive.\nMake sure you close all "
                                       "explorer windows and other applications accessing this device"});
    EXPECT_EQ(a.modeLog, (std::vector<std::string>{"busy", "unstoppable", "idle"}));
    backend_.drive(0).faults = {};

    ScriptedUi b;
    b.files = {dir_.file("no/such/folder/x.raw")};
    backend_.setFreeSpace(platform::FreeSpace{1 << 30, 0, 0});
    transfer::dumpToFile(backend_, b, b, range(kDrive0, 0, 100, "d"));
    EXPECT_EQ(b.texts(), std::vector<std::string>{"Failed to open " + dir_.file("no/such/folder/x.raw") +
                                                  " for writing\n" + fixtures::noSuchPathText()});

    // Stop after the third block: the loop ends and the outcome names the bytes dumped.
    ScriptedUi c;
    c.files = {image("stopped.raw")};
    c.onPump = [&c] { c.stop = c.pumps >= 3; };
    EXPECT_EQ(transfer::dumpToFile(backend_, c, c, range(kDrive0, 0, kDisk, "d")).outcome,
              Outcome::Incomplete);
    EXPECT_EQ(c.texts().back(), incomplete(3 * 8192, kDisk));
    EXPECT_EQ(c.modeLog.back(), "idle");
}

// A backup is complete only once the medium holds it: a failed flush, or a write the image file
// refuses, is a failed dump, and an earlier image stays.
TEST_F(TransferTest, DumpWhoseImageFileFailsIsAFailure) {
    const std::string file = image("out.raw");
    backend_.fileFaults(file).failFlush = true;
    ui_.files = {file};
    EXPECT_EQ(transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, 0, 65536, "d")).outcome,
              Outcome::Failed);
    EXPECT_EQ(ui_.texts(), (std::vector<std::string>{"Failed to write to " + file + ", Input/output error",
                                                     "Nothing was kept: " + file + " was not created."}));
    EXPECT_FALSE(std::filesystem::exists(file));

    fixtures::writePatternFile(file, 100, 1);
    backend_.fileFaults(file) = {};
    backend_.fileFaults(file).writeErrorAt = 20000;
    ScriptedUi ui;
    ui.files = {file};
    EXPECT_EQ(transfer::dumpToFile(backend_, ui, ui, range(kDrive0, 0, 65536, "d")).outcome, Outcome::Failed);
    EXPECT_EQ(ui.texts().back(), "The earlier " + file + " was kept as it was.");
    EXPECT_EQ(fixtures::readFile(file).size(), 100u);
}

TEST_F(TransferTest, DumpNeverReplacesItsOwnSource) {
    const std::string file = image("self.bin");
    fixtures::writePatternFile(file, 50000, 7);
    ui_.files = {file};
    EXPECT_EQ(transfer::dumpToFile(backend_, ui_, ui_, range(file, 0, 50000, file)).outcome, Outcome::Failed);
    EXPECT_EQ(ui_.texts(), std::vector<std::string>{"Failed to open " + file + " for writing"});
    EXPECT_EQ(fixtures::readFile(file).size(), 50000u);

    ScriptedUi negative;
    EXPECT_EQ(transfer::dumpToFile(backend_, negative, negative, range(kDrive0, -1, 10, "d")).outcome,
              Outcome::NotStarted);
    EXPECT_TRUE(negative.fileDialogs.empty()) << "a negative offset is refused before anything is asked";
}

TEST_F(TransferTest, DumpIntoAFullFileSystemLeavesNothingBehind) {
    if (!fixtures::isRoot()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string mnt = dir_.file("full");
    fixtures::Mount tmpfs("tmpfs", mnt, "tmpfs", 0, "size=64k");
    if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount tmpfs here: " << std::strerror(tmpfs.error());
    backend_.setFreeSpace(platform::FreeSpace{1 << 30, 0, 0}); // the free-space test is passed on purpose
    ui_.files = {mnt + "/big.raw"};
    const auto r = transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, 0, 256 * 1024, "d"));
    const auto texts = ui_.texts();
    const bool left = std::filesystem::exists(mnt + "/big.raw") || !std::filesystem::is_empty(mnt);
    tmpfs.unmount();
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_FALSE(left) << "a failed image takes no room on the full disk";
    EXPECT_EQ(texts,
              (std::vector<std::string>{"Failed to write to " + mnt + "/big.raw, No space left on device",
                                        "Nothing was kept: " + mnt + "/big.raw was not created."}));
    EXPECT_GT(r.bytes, 0);
    EXPECT_LE(r.bytes, 64 * 1024);
}

// --- Restore

class RestoreTest : public TransferTest {
protected:
    // Runs a restore of `file` onto drive 1's [offset, offset + size) with the given answers.
    transfer::Report restore(const std::string& file, int64_t offset, int64_t size,
                             std::deque<Button> answers, bool gate = true) {
        fence(1, offset, size);
        ui_.files = {file};
        ui_.gate = {gate};
        ui_.answers = std::move(answers);
        return transfer::restoreFromFile(backend_, ui_, ui_,
                                         range(kDrive1, offset, size, "Logical drive 1 partition 1"));
    }
    const std::string kWarning =
        "Warning.\nThis is an extremely dangerous tool, able to destroy valuable data with "
        "just a few mouseclicks.\nPlease read the documention carefully before using the "
        "import function.";
};

TEST_F(RestoreTest, ExactImageIsWrittenAtTheOffsetAndNothingElseChanges) {
    const std::string file = image("img.raw");
    fixtures::writePatternFile(file, 40000, 5);
    const auto r = restore(file, 32256, 40000, {Button::Ok, Button::Yes, Button::Ignore});
    EXPECT_EQ(r.outcome, Outcome::Completed);
    EXPECT_EQ(ui_.texts(),
              (std::vector<std::string>{
                  kWarning,
                  "Are you sure you want to copy " + file +
                      " to device Logical drive 1 partition 1 ?\nThis will destroy all data that is "
                      "currently on the device!",
                  ui_.asked[2].text, "Seeking position 32256",
                  "Writing image file to device successfully completed"}));
    EXPECT_EQ(ui_.asked[2].buttons,
              (std::vector<Button>{Button::Yes, Button::No, Button::Cancel, Button::Ignore}));
    EXPECT_EQ(ui_.gateTargets.at(0).Offset, 32256);
    const auto bytes = fixtures::readFile(dir_.file("d1.img"));
    for (int64_t i = 0; i < 40000; ++i)
        ASSERT_EQ(bytes[size_t(32256 + i)], patternByte(i, 5));
    expectUntouchedOutside(dir_.file("d1.img"), 99, 32256, 40000);
    EXPECT_EQ(ui_.modeLog.back(), "idle");
}

TEST_F(RestoreTest, EveryRefusalWritesNothing) {
    const std::string file = image("img.raw");
    fixtures::writePatternFile(file, 4096, 5);
    // The gate, the length test, "Are you sure", "Stop now?": each No ends it before the device opens.
    const std::vector<std::pair<std::deque<Button>, bool>> refusals{
        {{Button::Ok}, false},
        {{Button::Ok, Button::Cancel}, true}, // length differs (4096 vs 8192): Cancel
        {{Button::Ok, Button::Ok}, true},     // OK closes too
        {{Button::Ok, Button::Ignore, Button::No}, true},
        {{Button::Ok, Button::Ignore, Button::Yes, Button::Yes}, true}, // "Stop now?" Yes
        {{Button::Ok, Button::Ignore, Button::Yes, Button::No}, true},
    };
    for (const auto& [answers, gate] : refusals) {
        ui_ = ScriptedUi{};
        EXPECT_EQ(restore(file, 0, 8192, answers, gate).outcome, Outcome::NotStarted);
        for (const auto& [name, mode] : backend_.opens()) {
            EXPECT_NE(mode, platform::OpenMode::Write) << "the device was opened for writing";
        }
        if (gate) {
            EXPECT_EQ(ui_.modeLog.back(), "idle");
        }
    }
    expectUntouchedOutside(dir_.file("d1.img"), 99, 0, 0);
}

TEST_F(RestoreTest, ShorterImageWritesItsLengthLongerStopsAtTheSelection) {
    const std::string shortFile = image("short.raw"), longFile = image("long.raw");
    fixtures::writePatternFile(shortFile, 10000, 1);
    fixtures::writePatternFile(longFile, 30000, 2);
    auto r = restore(shortFile, 512, 20000, {Button::Ok, Button::Ignore, Button::Yes, Button::Ignore});
    EXPECT_EQ(r.outcome, Outcome::Incomplete);
    EXPECT_EQ(ui_.asked[1].text,
              "Error\nFile size does not match target device size.\nFilesize: 10000 Target size: 20000");
    EXPECT_EQ(ui_.asked[1].icon, Icon::Error);
    EXPECT_EQ(ui_.texts().back(), incomplete(10000, 20000));

    ui_ = ScriptedUi{};
    r = restore(longFile, 512, 20000, {Button::Ok, Button::Ignore, Button::Yes, Button::Ignore});
    EXPECT_EQ(r.outcome, Outcome::Completed);
    EXPECT_EQ(r.bytes, 20000);
    EXPECT_EQ(ui_.texts().back(), "Writing image file to device successfully completed");
    expectUntouchedOutside(dir_.file("d1.img"), 99, 512, 20000);
}

TEST_F(RestoreTest, RefusedWritesAndFailedFlushAreFailures) {
    const std::string file = image("img.raw");
    fixtures::writePatternFile(file, 65536, 3);
    backend_.drive(1).faults.shortWriteAt = 20000;
    auto r = restore(file, 0, 65536, {Button::Ok, Button::Yes, Button::Ignore});
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.bytes, 20000);
    const auto t = ui_.texts();
    EXPECT_EQ(t[t.size() - 2], "Failed to write to Logical drive 1 partition 1, No space left on device");
    EXPECT_EQ(t.back(), "Writing image file to device failed, wrote only 20000 bytes of 65536 bytes total.");

    // Every byte handed over, but the device did not confirm them: a failure in the restore's words.
    backend_.drive(1).faults = {};
    backend_.drive(1).faults.failFlush = true;
    ui_ = ScriptedUi{};
    r = restore(file, 0, 65536, {Button::Ok, Button::Yes, Button::Ignore});
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(), "Writing image file to device failed: Logical drive 1 partition 1 did not "
                                  "confirm that the data was written.");

    backend_.drive(1).faults = {};
    backend_.drive(1).faults.failOpen = true;
    ui_ = ScriptedUi{};
    r = restore(file, 0, 65536, {Button::Ok, Button::Yes, Button::Ignore});
    EXPECT_EQ(ui_.texts().back(),
              "Failed to exclusively open drive Logical drive 1 partition 1 for writing.\nMake sure "
              "you close all explorer windows and other applications accessing this device");
    EXPECT_EQ(ui_.modeLog.back(), "idle");
}

// An image restored onto itself would read back what was just written: refused, under any of
// the names that lead to the file.
TEST_F(RestoreTest, AnImageIsNeverRestoredOntoItself) {
    const std::string file = image("self.raw");
    fixtures::writePatternFile(file, 65536, 3);
    const auto before = fixtures::readFile(file);
    ui_.files = {file};
    ui_.gate = {true};
    ui_.answers = {Button::Ok, Button::Yes, Button::Ignore};
    const auto r = transfer::restoreFromFile(backend_, ui_, ui_,
                                             range(dir_.path().string() + "/./self.raw", 0, 65536, "self"));
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(),
              "Failed to exclusively open drive self for writing.\nMake sure you close all "
              "explorer windows and other applications accessing this device");
    EXPECT_EQ(fixtures::readFile(file), before);
}

// Read back after writing: a device that drops writes, or stores a byte wrong, is caught and the
// first difference named; a sound one is confirmed.
TEST_F(RestoreTest, VerifyReadsBackWhatWasWritten) {
    const std::string file = image("img.raw");
    fixtures::writePatternFile(file, 40000, 5);
    transfer::Options verify;
    verify.verify = true;
    const std::string target = "Logical drive 1 partition 1";
    const struct {
        const char* name;
        platform::testkit::Faults faults;
        Outcome outcome;
        std::string report;
    } cases[] = {
        {"sound",
         {},
         Outcome::Completed,
         "Verified: all 40000 bytes on " + target + " read back as they were written."},
        {"dropped writes",
         [] {
             platform::testkit::Faults f;
             f.dropWrites = true;
             return f;
         }(),
         Outcome::Failed,
         "Verification failed: 40000 of the 40000 bytes compared differ on " + target +
             ", the first at byte 0 of the range (byte 512 of the device)."},
        {"a flipped byte",
         [] {
             platform::testkit::Faults f;
             f.flipWriteAt = 512 + 12345;
             return f;
         }(),
         Outcome::Failed,
         "Verification failed: 1 of the 40000 bytes compared differ on " + target +
             ", the first at byte 12345 of the range (byte 12857 of the device)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fixtures::writePatternFile(dir_.file("d1.img"), kDisk, 99);
        backend_.drive(1).faults = c.faults;
        fence(1, 512, 40000);
        ui_ = ScriptedUi{};
        ui_.files = {file};
        ui_.gate = {true};
        ui_.answers = {Button::Ok, Button::Yes, Button::Ignore};
        const auto r =
            transfer::restoreFromFile(backend_, ui_, ui_, range(kDrive1, 512, 40000, target), verify);
        EXPECT_EQ(r.outcome, c.outcome);
        const auto texts = ui_.texts();
        ASSERT_GE(texts.size(), 2u);
        EXPECT_EQ(texts[texts.size() - 2], "Writing image file to device successfully completed");
        EXPECT_EQ(texts.back(), c.report);
    }
}

TEST_F(RestoreTest, StopDuringTheLoopReportsTheBytesWritten) {
    const std::string file = image("img.raw");
    fixtures::writePatternFile(file, 65536, 3);
    ui_.onPump = [this] { ui_.stop = ui_.pumps >= 2; };
    const auto r = restore(file, 0, 65536, {Button::Ok, Button::Yes, Button::Ignore});
    EXPECT_EQ(r.outcome, Outcome::Incomplete);
    EXPECT_EQ(ui_.texts().back(), incomplete(16384, 65536));
}

// --- Direct copy

TEST_F(TransferTest, CopyBetweenDevicesInTwoMebibyteBlocks) {
    fixtures::writePatternFile(dir_.file("big0.img"), 6 << 20, 11);
    fixtures::writePatternFile(dir_.file("big1.img"), 6 << 20, 22);
    TestBackend backend;
    backend.addDrive(VirtualDrive(dir_.file("big0.img")));
    VirtualDrive target(dir_.file("big1.img"));
    target.writable = platform::ByteRange::of(512, 5 << 20);
    backend.addDrive(target);
    ui_.gate = {true};
    const auto r = transfer::directCopy(backend, ui_, ui_, range(kDrive0, 1024, 5 << 20, "src"),
                                        range(kDrive1, 512, 5 << 20, "dst"));
    EXPECT_EQ(r.outcome, Outcome::Completed);
    EXPECT_EQ(ui_.texts(), std::vector<std::string>{"Copying completed"});
    EXPECT_EQ(ui_.modeLog, (std::vector<std::string>{"stoppable", "unstoppable"}))
        << "Stop is withdrawn at the end";
    EXPECT_EQ(ui_.progressLog.size(), 3u) << "blocks of 2, 2 and 1 MiB";
    EXPECT_EQ(ui_.progressLog[0].first, 40);
    EXPECT_EQ(ui_.pumps, 80 + 3) << "a pump after every 64 KiB piece and every block";
    const auto bytes = fixtures::readFile(dir_.file("big1.img"));
    for (int64_t i = 0; i < (6 << 20); ++i) {
        const bool inside = i >= 512 && i < 512 + (5 << 20);
        ASSERT_EQ(bytes[size_t(i)], inside ? patternByte(i - 512 + 1024, 11) : patternByte(i, 22)) << i;
    }
    EXPECT_TRUE(backend.violations().empty());
}

TEST_F(TransferTest, CopyWithinOneDeviceRefusesOverlapButAcceptsTouchingRanges) {
    ui_.gate = {true};
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 4096, "a"),
                                   range(kDrive0, 4095, 4096, "b"))
                  .outcome,
              Outcome::NotStarted);
    EXPECT_EQ(ui_.texts(),
              std::vector<std::string>{"Source and destination are on same device and do overlap."});
    EXPECT_TRUE(ui_.gateTargets.empty());

    fence(0, 4096, 4096);
    ui_ = ScriptedUi{};
    ui_.gate = {true};
    backend_.setPhysicalMemory(int64_t(100) << 20);
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 4096, "a"),
                                   range(kDrive0, 4096, 4096, "b"))
                  .outcome,
              Outcome::Completed);
    const auto bytes = fixtures::readFile(dir_.file("d0.img"));
    for (int64_t i = 0; i < 4096; ++i)
        ASSERT_EQ(bytes[size_t(4096 + i)], patternByte(i));
    expectUntouchedOutside(dir_.file("d0.img"), 0, 4096, 4096);
    EXPECT_EQ(ui_.gateTargets.at(0).Description, "b");

    // The drive number and the image behind it are one device, whatever the names say.
    ui_ = ScriptedUi{};
    ui_.gate = {true};
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 4096, "a"),
                                   range(dir_.file("d0.img"), 2048, 4096, "b"))
                  .outcome,
              Outcome::NotStarted);
    EXPECT_EQ(ui_.texts(),
              std::vector<std::string>{"Source and destination are on same device and do overlap."});
}

// Within one device a single handle moves between the two sides for every block: each block
// must be read from its own place and written to its own place, whether the ranges touch or lie
// far apart.
TEST_F(TransferTest, CopyWithinOneDeviceMovesEveryBlockToItsPlace) {
    fixtures::writePatternFile(dir_.file("big.img"), 12 << 20, 5);
    TestBackend backend;
    backend.addDrive(VirtualDrive(dir_.file("big.img")));
    backend.setPhysicalMemory(int64_t(16) << 20); // blocks of 2 MiB: three for 5 MiB
    const int64_t size = (5 << 20) + 4096;
    for (const int64_t target : {size, int64_t(6 << 20) + 512}) {
        SCOPED_TRACE(target);
        fixtures::writePatternFile(dir_.file("big.img"), 12 << 20, 5);
        backend.drive(0).writable = platform::ByteRange::of(target, size);
        ScriptedUi ui;
        ui.gate = {true};
        EXPECT_EQ(transfer::directCopy(backend, ui, ui, range(kDrive0, 0, size, "a"),
                                       range(kDrive0, target, size, "b"))
                      .outcome,
                  Outcome::Completed);
        EXPECT_EQ(ui.progressLog.size(), 3u) << "three blocks";
        const auto bytes = fixtures::readFile(dir_.file("big.img"));
        for (int64_t i = 0; i < (12 << 20); ++i) {
            const bool inside = i >= target && i < target + size;
            ASSERT_EQ(bytes[size_t(i)], inside ? patternByte(i - target, 5) : patternByte(i, 5)) << i;
        }
    }
    EXPECT_TRUE(backend.violations().empty());
}

TEST_F(TransferTest, CopyVerifiesTheTargetWhenAsked) {
    transfer::Options verify;
    verify.verify = true;
    backend_.drive(1).faults.flipWriteAt = 4096 + 100;
    fence(1, 4096, 8192);
    ui_.gate = {true};
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 8192, "a"),
                                   range(kDrive1, 4096, 8192, "b"), verify)
                  .outcome,
              Outcome::Failed);
    EXPECT_EQ(ui_.texts(),
              (std::vector<std::string>{"Copying completed",
                                        "Verification failed: 1 of the 8192 bytes compared differ on b, "
                                        "the first at byte 100 of the range (byte 4196 of the device)."}));
}

TEST_F(TransferTest, CopyRefusalsAndFailures) {
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 10, "a"), range(kDrive1, 0, 11, "b"))
                  .outcome,
              Outcome::NotStarted);
    EXPECT_EQ(ui_.texts(), std::vector<std::string>{"Size differs"});

    ui_ = ScriptedUi{};
    ui_.gate = {false};
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 10, "a"), range(kDrive1, 0, 10, "b"))
                  .outcome,
              Outcome::NotStarted);
    EXPECT_TRUE(backend_.opens().empty()) << "a refused gate opens nothing";

    // A short read in a piece stops the copy; the end message still comes.
    backend_.drive(0).faults.endsAt = 100000;
    fence(1, 0, 200000);
    ui_ = ScriptedUi{};
    ui_.gate = {true};
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 200000, "a"),
                                   range(kDrive1, 0, 200000, "b"))
                  .outcome,
              Outcome::Failed);
    EXPECT_EQ(ui_.texts(),
              (std::vector<std::string>{"Read unexcepted amount of bytes", copyIncomplete(0, 200000)}));

    backend_.drive(0).faults = {};
    backend_.drive(1).faults.shortWriteAt = 1000;
    ui_ = ScriptedUi{};
    ui_.gate = {true};
    transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 200000, "a"), range(kDrive1, 0, 200000, "b"));
    EXPECT_EQ(ui_.texts(),
              (std::vector<std::string>{"Could not write complete buffer", copyIncomplete(1000, 200000)}));

    backend_.drive(1).faults = {};
    backend_.drive(1).faults.failFlush = true;
    ui_ = ScriptedUi{};
    ui_.gate = {true};
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 200000, "a"),
                                   range(kDrive1, 0, 200000, "b"))
                  .outcome,
              Outcome::Failed);
    EXPECT_EQ(ui_.texts(),
              (std::vector<std::string>{"Failed to write to b, Input/output error",
                                        "Copying failed: b did not confirm that the data was written."}));

    backend_.drive(1).faults = {};
    backend_.drive(1).faults.failOpen = true;
    ui_ = ScriptedUi{};
    ui_.gate = {true};
    transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 10, "a"), range(kDrive1, 0, 10, "b"));
    EXPECT_EQ(ui_.texts(), std::vector<std::string>{"Failed to open b for writing"});
}

TEST_F(TransferTest, StoppingOneCopyDoesNotStopTheNext) {
    fixtures::writePatternFile(dir_.file("big0.img"), 6 << 20, 11);
    fixtures::writePatternFile(dir_.file("big1.img"), 6 << 20, 22);
    TestBackend backend;
    backend.addDrive(VirtualDrive(dir_.file("big0.img")));
    backend.addDrive(VirtualDrive(dir_.file("big1.img")));
    ui_.gate = {true, true};
    ui_.onPump = [this] {
        if (ui_.pumps == 40) ui_.stop = true; // during the first copy's second block
    };
    auto r = transfer::directCopy(backend, ui_, ui_, range(kDrive0, 0, 6 << 20, "a"),
                                  range(kDrive1, 0, 6 << 20, "b"));
    EXPECT_EQ(r.outcome, Outcome::Incomplete);
    EXPECT_EQ(r.bytes, 4 << 20);
    EXPECT_EQ(ui_.texts(), std::vector<std::string>{copyIncomplete(4 << 20, 6 << 20)});
    r = transfer::directCopy(backend, ui_, ui_, range(kDrive0, 0, 6 << 20, "a"),
                             range(kDrive1, 0, 6 << 20, "b"));
    EXPECT_EQ(r.outcome, Outcome::Completed);
    EXPECT_EQ(ui_.texts().back(), "Copying completed");
    EXPECT_EQ(fixtures::readFile(dir_.file("big1.img")), fixtures::readFile(dir_.file("big0.img")));
}

// --- Nothing outside the named range, nothing half-done reported as done

TEST_F(TransferTest, RangesWhoseEndDoesNotFitAreRefusedBeforeAnythingOpens) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const std::string tooLarge = "The selection's range is too large";
    ui_.gate = {true};
    ui_.files = {image("x.raw")};
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, kMax, "a"),
                                   range(kDrive0, kMax, kMax, "b"))
                  .outcome,
              Outcome::NotStarted);
    EXPECT_EQ(transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, kMax, 1, "d")).outcome,
              Outcome::NotStarted);
    EXPECT_EQ(transfer::restoreFromFile(backend_, ui_, ui_, range(kDrive1, 2, kMax - 1, "d")).outcome,
              Outcome::NotStarted);
    int refusals = 0;
    for (const auto& q : ui_.asked)
        refusals += q.text.rfind(tooLarge, 0) == 0;
    EXPECT_EQ(refusals, 3);
    EXPECT_TRUE(backend_.opens().empty());
}

// A file would grow and a device would take part of the data: both are refused before writing.
TEST_F(TransferTest, WritesThatWouldRunPastTheEndAreRefused) {
    const std::string target = image("t.bin"), img = image("img.raw");
    fixtures::writePatternFile(target, 8192, 4);
    fixtures::writePatternFile(img, 4096, 5);
    const std::string pastEnd =
        "The selection ends at byte 10240, beyond the end of t, which has 8192 bytes. "
        "Nothing was written.";
    ui_.files = {img};
    ui_.gate = {true, true};
    ui_.answers = {Button::Ok, Button::Yes, Button::Ignore};
    EXPECT_EQ(transfer::restoreFromFile(backend_, ui_, ui_, range(target, 6144, 4096, "t")).outcome,
              Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(), pastEnd);
    EXPECT_EQ(
        transfer::directCopy(backend_, ui_, ui_, range(kDrive0, 0, 4096, "s"), range(target, 6144, 4096, "t"))
            .outcome,
        Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(), pastEnd);
    const auto bytes = fixtures::readFile(target);
    ASSERT_EQ(bytes.size(), 8192u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], patternByte(int64_t(i), 4));

    fence(1, kDisk - 100, 100);
    ScriptedUi device;
    device.files = {img};
    device.gate = {true};
    device.answers = {Button::Ok, Button::Yes, Button::Ignore};
    EXPECT_EQ(
        transfer::restoreFromFile(backend_, device, device, range(kDrive1, kDisk - 100, 4096, "d1")).outcome,
        Outcome::Failed);
    EXPECT_EQ(device.texts().back().rfind("The selection ends at byte", 0), 0u);
    expectUntouchedOutside(dir_.file("d1.img"), 99, 0, 0);
}

TEST_F(TransferTest, AnEarlierImageIsReplacedOnlyByACompleteDump) {
    const std::string file = image("old.raw");
    const auto keep = [&] {
        fixtures::writePatternFile(file, 5000, 42);
        return fixtures::readFile(file);
    }();
    const auto expectKept = [&](ScriptedUi& ui) {
        EXPECT_EQ(fixtures::readFile(file), keep);
        EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
        EXPECT_EQ(ui.texts().back(), "The earlier " + file + " was kept as it was.");
    };

    backend_.drive(0).faults.readErrorAt = 9000; // the device ends early: incomplete
    ScriptedUi failing;
    failing.files = {file};
    EXPECT_EQ(transfer::dumpToFile(backend_, failing, failing, range(kDrive0, 0, 65536, "d")).outcome,
              Outcome::Incomplete);
    expectKept(failing);
    backend_.drive(0).faults = {};

    ScriptedUi stopped;
    stopped.files = {file};
    stopped.onPump = [&stopped] { stopped.stop = stopped.pumps >= 2; };
    EXPECT_EQ(transfer::dumpToFile(backend_, stopped, stopped, range(kDrive0, 0, 65536, "d")).outcome,
              Outcome::Incomplete);
    expectKept(stopped);

    ScriptedUi done;
    done.files = {file};
    EXPECT_EQ(transfer::dumpToFile(backend_, done, done, range(kDrive0, 0, 65536, "d")).outcome,
              Outcome::Completed);
    const auto bytes = fixtures::readFile(file);
    ASSERT_EQ(bytes.size(), 65536u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], patternByte(int64_t(i)));
    EXPECT_FALSE(std::filesystem::exists(file + ".partial"));
}

// The last block runs past the selection; when only that overrun does not fit on the disk, every
// selected byte is in the file and the dump is complete.
TEST_F(TransferTest, DumpWhoseOverrunDoesNotFitIsStillComplete) {
    if (!fixtures::isRoot()) GTEST_SKIP() << "mounting a small tmpfs needs root";
    const std::string mnt = dir_.file("small");
    fixtures::Mount tmpfs("tmpfs", mnt, "tmpfs", 0, "size=12k");
    if (!tmpfs.mounted()) GTEST_SKIP() << "cannot mount tmpfs here: " << std::strerror(tmpfs.error());
    backend_.setFreeSpace(platform::FreeSpace{1 << 30, 0, 0});
    ui_.files = {mnt + "/part.raw"};
    ui_.answers = {Button::Yes};
    const auto r = transfer::dumpToFile(backend_, ui_, ui_, range(kDrive0, 0, 10000, "d"));
    const auto bytes = fixtures::readFile(mnt + "/part.raw");
    tmpfs.unmount();
    EXPECT_EQ(r.outcome, Outcome::Completed);
    ASSERT_EQ(ui_.texts().size(), 2u);
    EXPECT_EQ(
        ui_.texts()[0].rfind("Dump complete, but was able to dump more bytes from the device than reported.\n"
                             "12288 bytes were dumped, 10000 bytes",
                             0),
        0u);
    EXPECT_EQ(ui_.texts()[1], "File was truncated to 10000 bytes. 2288 bytes were dropped");
    ASSERT_EQ(bytes.size(), 10000u);
    for (size_t i = 0; i < bytes.size(); ++i)
        ASSERT_EQ(bytes[i], patternByte(int64_t(i)));
}

// A selection remembers the device it named: when the name leads elsewhere by the time it is
// opened (a lower drive went away, a stick was swapped while the gate was open), nothing is read
// or written.
TEST_F(TransferTest, ASelectionWhoseDeviceChangedIsNeitherReadNorWritten) {
    const auto identityOf = [&](const std::string& name) {
        return (*backend_.open(name, platform::OpenMode::Read))->fingerprint();
    };
    TFileInfo drive1 = range(kDrive1, 0, 4096, "Logical drive 1");
    drive1.Identity = identityOf(kDrive1);
    ASSERT_FALSE(drive1.Identity.empty());
    TFileInfo drive0 = range(kDrive0, 0, 4096, "Logical drive 0");
    drive0.Identity = identityOf(kDrive0);

    fixtures::writePatternFile(dir_.file("other.img"), kDisk, 77);
    backend_.drive(1).imagePath = dir_.file("other.img"); // drive 1 is now another device
    fence(1, 0, 0);
    const std::string changed =
        "Logical drive 1 is no longer what was selected: " + kDrive1 +
        " now leads to another device or file. Nothing was read or written. Select it again.";
    const std::string img = image("img.raw");
    fixtures::writePatternFile(img, 4096, 5);

    ui_.files = {img, image("dump.raw")};
    ui_.gate = {true, true, true};
    ui_.answers = {Button::Ok, Button::Yes, Button::Ignore};
    EXPECT_EQ(transfer::restoreFromFile(backend_, ui_, ui_, drive1).outcome, Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(), changed);
    EXPECT_EQ(transfer::dumpToFile(backend_, ui_, ui_, drive1).outcome, Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(), changed);
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, drive0, drive1).outcome, Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(), changed);
    EXPECT_EQ(transfer::directCopy(backend_, ui_, ui_, drive1, drive0).outcome, Outcome::Failed);
    EXPECT_EQ(ui_.texts().back(), changed);
    EXPECT_FALSE(std::filesystem::exists(image("dump.raw")));
    expectUntouchedOutside(dir_.file("other.img"), 77, 0, 0);
    expectUntouchedOutside(dir_.file("d0.img"), 0, 0, 0);
    expectUntouchedOutside(dir_.file("d1.img"), 99, 0, 0);

    // The same device selected again works.
    drive1.Identity = identityOf(kDrive1);
    ScriptedUi again;
    again.files = {img};
    again.gate = {true};
    again.answers = {Button::Ok, Button::Yes, Button::Ignore};
    fence(1, 0, 4096);
    EXPECT_EQ(transfer::restoreFromFile(backend_, again, again, drive1).outcome, Outcome::Completed);
}

TEST(TransferNumbers, BlockSizesAndPercentages) {
    EXPECT_EQ(transfer::sameDeviceBlockSize(int64_t(256) << 20), 32 << 20);
    EXPECT_EQ(transfer::sameDeviceBlockSize(int64_t(16) << 30), 32 << 20);
    EXPECT_EQ(transfer::sameDeviceBlockSize(int64_t(100) << 20), 12 << 20);
    EXPECT_EQ(transfer::sameDeviceBlockSize(int64_t(7) << 20), 1 << 20) << "below 8 MiB";
    EXPECT_EQ(jobs::percentOf(1, 200), 0) << "0.5 rounds to even";
    EXPECT_EQ(jobs::percentOf(3, 200), 2) << "1.5 rounds to even";
    EXPECT_EQ(jobs::percentOf(16384, 10000), 100) << "the bar never runs past its end";
    EXPECT_EQ(jobs::percentDoneText(1, 3, ','), "33,33% done");
    EXPECT_EQ(jobs::percentDoneText(16384, 10000, '.'), "163.84% done");
}

// --- Real loop devices

// A partition node and its disk are one device: ranges are compared where they lie on the disk.
TEST(TransferOnLoopDevices, PartitionNodeAndItsDiskAreOneDevice) {
    fixtures::TempDir dir;
    const std::string image = dir.file("p.img");
    fixtures::writePatternFile(image, 4 << 20, 6);
    fixtures::writeMbr(image, {{0x83, 2048, 4096}});
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    if (fixtures::shell("partx -a '" + loop.node() + "' 2>/dev/null") != 0)
        GTEST_SKIP() << "partx cannot add partitions";
    struct Detach {
        std::string node;
        ~Detach() { fixtures::shell("partx -d '" + node + "' 2>/dev/null"); }
    } detach{loop.node()};
    const std::string part = loop.node() + "p1";
    if (!std::filesystem::exists(part)) GTEST_SKIP() << "no partition node appeared";

    auto& system = platform::systemBackend();
    ScriptedUi ui;
    ui.gate = {true, true};
    // Disk bytes [1048576 + 512, +4096) against the partition's [0, 4096), which starts at 1048576.
    EXPECT_EQ(transfer::directCopy(system, ui, ui, range(loop.node(), 1048576 + 512, 4096, "disk"),
                                   range(part, 0, 4096, "partition"))
                  .outcome,
              Outcome::NotStarted);
    EXPECT_EQ(ui.texts(),
              std::vector<std::string>{"Source and destination are on same device and do overlap."});

    // Right behind the source on the disk: accepted, and the bytes land where the partition says.
    ui = ScriptedUi{};
    ui.gate = {true};
    EXPECT_EQ(transfer::directCopy(system, ui, ui, range(loop.node(), 1048576, 4096, "disk"),
                                   range(part, 4096, 4096, "partition"))
                  .outcome,
              Outcome::Completed);
    EXPECT_EQ(
        fixtures::shell("cmp -s -i 1048576:1052672 -n 4096 '" + loop.node() + "' '" + loop.node() + "'"), 0);
}

// A loop device and the file behind it are one object: a dump of the device into its own file
// would empty its source, a copy between overlapping ranges of the two would read what it wrote,
// and a mounted file system in the file must not be written behind the kernel.
TEST(TransferOnLoopDevices, ABackingFileIsItsLoopDevice) {
    fixtures::TempDir dir;
    const std::string image = dir.file("backing.img");
    fixtures::writePatternFile(image, 4 << 20, 8);
    fixtures::LoopDevice loop(image, 1 << 20); // the device starts 1 MiB into the file
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    auto& system = platform::systemBackend();
    const auto before = fixtures::readFile(image);

    ScriptedUi dump;
    dump.files = {image};
    EXPECT_EQ(transfer::dumpToFile(system, dump, dump, range(loop.node(), 0, 4096, "loop")).outcome,
              Outcome::Failed);
    EXPECT_EQ(dump.texts().back(), "Failed to open " + image + " for writing");

    ScriptedUi copy;
    copy.gate = {true, true};
    // Device bytes [0, 4096) are file bytes [1 MiB, 1 MiB + 4096).
    EXPECT_EQ(transfer::directCopy(system, copy, copy, range(loop.node(), 0, 4096, "device"),
                                   range(image, (1 << 20) + 2048, 4096, "file"))
                  .outcome,
              Outcome::NotStarted);
    EXPECT_EQ(copy.texts().back(), "Source and destination are on same device and do overlap.");
    EXPECT_EQ(fixtures::readFile(image), before);

    // A mounted file system inside the file: the file is not opened for writing.
    fixtures::TempDir fsDir;
    const std::string fsImage = fsDir.file("e4.img");
    if (fixtures::shell("truncate -s 8M '" + fsImage + "' && mkfs.ext4 -q -F '" + fsImage + "' 2>&1") != 0)
        GTEST_SKIP() << "mkfs.ext4 is needed";
    fixtures::LoopDevice fsLoop(fsImage);
    ASSERT_TRUE(fsLoop.available()) << fsLoop.reason();
    fixtures::Mount mount(fsLoop.node(), fsDir.file("mnt"));
    if (!mount.mounted()) GTEST_SKIP() << "mounting ext4 failed here";
    const std::string img = fsDir.file("z4k");
    fixtures::writePatternFile(img, 4096, 1);
    ScriptedUi restore;
    restore.files = {img};
    restore.gate = {true};
    restore.answers = {Button::Ok, Button::Yes, Button::Ignore};
    EXPECT_EQ(
        transfer::restoreFromFile(system, restore, restore, range(fsImage, 1024, 4096, fsImage)).outcome,
        Outcome::Failed);
    EXPECT_EQ(restore.texts().back().rfind("Failed to exclusively open drive " + fsImage, 0), 0u);
    mount.unmount();
    // The kernel itself writes the superblock on mount and unmount; none of the image is there.
    const auto after = fixtures::readFile(fsImage);
    for (int64_t i = 0; i < 4096; i += 512)
        EXPECT_FALSE(std::equal(after.begin() + 1024 + i, after.begin() + 1024 + i + 512,
                                fixtures::readFile(img).begin() + i))
            << "image bytes at " << 1024 + i;
}

// Past the system's cache a device takes whole, aligned sectors only; a range at odd offsets is
// still dumped and restored exactly, and no byte around it changes (512- and 4096-byte sectors).
TEST(TransferOnLoopDevices, DirectIoAtOddOffsetsTouchesOnlyTheRange) {
    if (!fixtures::isRoot()) GTEST_SKIP() << "loop devices need root";
    constexpr int64_t kSize = 4 << 20, kOffset = 4097, kCount = 70001;
    for (const int sector : {512, 4096}) {
        SCOPED_TRACE(sector);
        fixtures::TempDir dir;
        fixtures::writePatternFile(dir.file("disk.img"), kSize, 3);
        std::string node;
        if (fixtures::shell("losetup -f --show --sector-size " + std::to_string(sector) + " '" +
                                dir.file("disk.img") + "' 2>/dev/null",
                            &node) != 0)
            GTEST_SKIP() << "losetup cannot attach with this sector size here";
        node = node.substr(0, node.find('\n'));
        struct Detach {
            std::string node;
            ~Detach() { fixtures::shell("losetup -d '" + node + "' 2>/dev/null"); }
        } detach{node};
        auto& system = platform::systemBackend();
        const transfer::Options direct; // past the cache, as by default

        ScriptedUi dump;
        dump.files = {dir.file("part.raw")};
        dump.answers = {Button::Ok, Button::Yes}; // the position, then truncation
        ASSERT_EQ(
            transfer::dumpToFile(system, dump, dump, range(node, kOffset, kCount, "loop"), direct).outcome,
            Outcome::Completed);
        const auto part = fixtures::readFile(dir.file("part.raw"));
        ASSERT_EQ(part.size(), size_t(kCount));
        for (int64_t i = 0; i < kCount; ++i)
            ASSERT_EQ(part[size_t(i)], patternByte(kOffset + i, 3)) << i;

        fixtures::writePatternFile(dir.file("new.raw"), kCount, 8);
        ScriptedUi restore;
        restore.files = {dir.file("new.raw")};
        restore.gate = {true};
        restore.answers = {Button::Ok, Button::Yes, Button::Ignore};
        const int64_t at = 3 * 4096 + 1;
        ASSERT_EQ(transfer::restoreFromFile(system, restore, restore, range(node, at, kCount, "loop"), direct)
                      .outcome,
                  Outcome::Completed)
            << restore.texts().back();
        ASSERT_EQ(fixtures::shell("blockdev --flushbufs '" + node + "'"), 0);
        const auto bytes = fixtures::readFile(dir.file("disk.img"));
        for (int64_t i = 0; i < kSize; ++i) {
            const bool inside = i >= at && i < at + kCount;
            ASSERT_EQ(bytes[size_t(i)], inside ? patternByte(i - at, 8) : patternByte(i, 3)) << "byte " << i;
        }
    }
}

// A dump of one loop device restored onto another gives identical bytes.

TEST(TransferOnLoopDevices, DumpAndRestoreRoundTrip) {
    fixtures::TempDir dir;
    fixtures::writePatternFile(dir.file("a.img"), 3 << 20, 1);
    fixtures::writePatternFile(dir.file("b.img"), 3 << 20, 2);
    fixtures::LoopDevice a(dir.file("a.img")), b(dir.file("b.img"));
    if (!a.available() || !b.available()) GTEST_SKIP() << a.reason();
    auto& system = platform::systemBackend();
    ScriptedUi ui;
    ui.files = {dir.file("dump.raw"), dir.file("dump.raw")};
    ui.gate = {true};
    ui.answers = {Button::Ok, Button::Ok, Button::Yes, Button::Ignore};
    EXPECT_EQ(transfer::dumpToFile(system, ui, ui, range(a.node(), 0, 3 << 20, a.node())).outcome,
              Outcome::Completed);
    transfer::Options verify;
    verify.verify = true; // read back past the cache
    EXPECT_EQ(
        transfer::restoreFromFile(system, ui, ui, range(b.node(), 0, 3 << 20, b.node()), verify).outcome,
        Outcome::Completed);
    EXPECT_EQ(ui.texts().back(),
              "Verified: all 3145728 bytes on " + b.node() + " read back as they were written.");
    EXPECT_EQ(fixtures::shell("cmp -s '" + a.node() + "' '" + b.node() + "'"), 0);
}

} // namespace
