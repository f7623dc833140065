// Erase: exactly the selected range takes the fill (canary bytes around it stay), random data is
// new in every block, the gate comes first, and a failing write, a failing seek, Stop and the
// final flush end it the way the person is told.

#include "maintenance/erase.h"

#include "support/fixtures.h"
#include "support/probe_backend.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

using fixtures::patternByte;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

constexpr int64_t kDisk = 256 * 1024;
const std::string kDrive0 = "\\\\.\\PHYSICALDRIVE0";

TEST(EraseRules, FillCharacter) {
    for (const char32_t key : {U'0', U'9', U'a', U'f', U'A', U'F', char32_t(8), char32_t(13)})
        EXPECT_TRUE(wipe::charKeyAllowed(key)) << int(key);
    for (const char32_t key : {U'g', U'G', U'z', U' ', U'-', U'x', U'\u00E9', char32_t(127)})
        EXPECT_FALSE(wipe::charKeyAllowed(key)) << int(key);
    const std::vector<std::pair<std::string, std::string>> cuts{
        {"", ""},
        {"A", "A"},
        {"AB", "AB"},
        {"ABCD", "AB"},
        {"1\xC3\xA9x", "1\xC3\xA9"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9", "\xC3\xA9\xC3\xA9"}};
    for (const auto& [text, cut] : cuts)
        EXPECT_EQ(wipe::cutCharText(text), cut) << text;
    const std::vector<std::pair<std::string, int>> values{{"00", 0},  {"FF", 255}, {"aa", 170}, {"5", 5},
                                                          {"3c", 60}, {"", 0},     {"G1", 0},   {"1g", 0},
                                                          {"-1", 0},  {" 1", 0},   {"123", 0},  {"0x", 0}};
    for (const auto& [text, value] : values)
        EXPECT_EQ(wipe::charValue(text), value) << text;
    const std::vector<std::optional<std::string>> texts{"00", "FF", "AA", "55", std::nullopt, ""};
    for (int item = 0; item < 6; ++item) {
        EXPECT_EQ(wipe::charTextFor(item), texts[size_t(item)]) << item;
        EXPECT_EQ(wipe::charEditable(item), item == wipe::Custom) << item;
    }
    EXPECT_EQ(wipe::fillFor(wipe::Random, "FF"), (wipe::Fill{true, 0}));
    EXPECT_EQ(wipe::fillFor(wipe::Custom, ""), (wipe::Fill{false, 0}));
    EXPECT_EQ(wipe::fillFor(wipe::Custom, "7e"), (wipe::Fill{false, 0x7E}));
}

class EraseTest : public testing::Test {
protected:
    void SetUp() override {
        fixtures::writePatternFile(image_, kDisk, 9);
        backend_.addDrive(VirtualDrive(image_));
    }
    void TearDown() override {
        EXPECT_TRUE(backend_.violations().empty()) << backend_.violations().front();
        EXPECT_EQ(backend_.openStreams(), 0) << "every handle is closed";
    }
    TFileInfo range(int64_t offset, int64_t size) {
        backend_.drive(0).writable = platform::ByteRange::of(offset, size);
        return helpers::selection(kDrive0, offset, size, "Drive 0 part");
    }
    // Bytes [offset, offset + filled) hold the fill, and every other byte its old pattern.
    void expectOnly(int64_t offset, int64_t filled, std::optional<uint8_t> value) {
        const auto bytes = fixtures::readFile(image_);
        ASSERT_EQ(int64_t(bytes.size()), kDisk);
        for (int64_t i = 0; i < kDisk; ++i) {
            if (i >= offset && i < offset + filled) {
                if (value) {
                    ASSERT_EQ(bytes[size_t(i)], *value) << "byte " << i;
                }
            } else {
                ASSERT_EQ(bytes[size_t(i)], patternByte(i, 9)) << "canary byte " << i << " changed";
            }
        }
    }
    fixtures::TempDir dir_;
    std::string image_ = dir_.file("d0.img");
    TestBackend backend_;
};

TEST_F(EraseTest, WritesExactlyTheRange) {
    const std::vector<uint8_t> fills{0x00, 0xFF, 0xAA, 0x3C};
    const std::vector<int64_t> sizes{0, 1, 2047, 2048, 2049, 5000, 3 * 2048 + 100};
    for (size_t k = 0; k < sizes.size(); ++k) {
        fixtures::writePatternFile(image_, kDisk, 9);
        const uint8_t fill = fills[k % fills.size()];
        const int64_t offset = 4096 + 333 * int64_t(k);
        ScriptedUi ui;
        ui.gate = {true};
        const auto sel = range(offset, sizes[k]);
        const auto r = wipe::eraseSelection(backend_, ui, ui, sel, {false, fill});
        EXPECT_EQ(r.outcome, wipe::Outcome::Completed) << sizes[k];
        EXPECT_EQ(r.bytes, sizes[k]);
        EXPECT_EQ(ui.gateTargets, std::vector<TFileInfo>{sel});
        EXPECT_EQ(ui.texts(), std::vector<std::string>{"Device Drive 0 part erased."});
        EXPECT_EQ(ui.progressLog.back().first, 100);
        ASSERT_GE(ui.modeLog.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(ui.modeLog.begin(), ui.modeLog.begin() + 2),
                  (std::vector<std::string>{"busy", "stoppable"}));
        EXPECT_EQ(ui.modeLog.back(), "idle");
        expectOnly(offset, sizes[k], fill);
    }
}

TEST_F(EraseTest, RandomDataIsNewInEveryBlockAndEveryErase) {
    std::vector<std::vector<uint8_t>> runs;
    for (int run = 0; run < 2; ++run) {
        ScriptedUi ui;
        ui.gate = {true};
        ui.fakeClock.now = 1000 + run; // the generator is seeded from the clock
        EXPECT_EQ(wipe::eraseSelection(backend_, ui, ui, range(8192, 64 * 2048 + 7), {true, 0}).outcome,
                  wipe::Outcome::Completed);
        expectOnly(8192, 64 * 2048 + 7, std::nullopt);
        const auto bytes = fixtures::readFile(image_);
        runs.emplace_back(bytes.begin() + 8192, bytes.begin() + 8192 + 64 * 2048 + 7);
    }
    std::set<std::vector<uint8_t>> blocks;
    std::vector<int> counts(256);
    for (size_t at = 0; at + 2048 <= runs[0].size(); at += 2048) {
        blocks.emplace(runs[0].begin() + long(at), runs[0].begin() + long(at + 2048));
        for (size_t i = at; i < at + 2048; ++i)
            ++counts[runs[0][i]];
    }
    EXPECT_EQ(blocks.size(), 64u) << "every block carries new data";
    for (int v = 0; v < 256; ++v)
        EXPECT_LT(counts[size_t(v)], 2 * 512) << "byte value " << v << " too frequent";
    EXPECT_NE(runs[0], runs[1]) << "a new erase, new data";
}

TEST_F(EraseTest, RefusedGateOpensNothing) {
    ScriptedUi ui;
    ui.gate = {false};
    EXPECT_EQ(wipe::eraseSelection(backend_, ui, ui, range(0, 4096), {false, 0}).outcome,
              wipe::Outcome::NotStarted);
    EXPECT_TRUE(backend_.opens().empty());
    EXPECT_TRUE(ui.asked.empty());
    expectOnly(0, 0, 0);
}

// A write that fails, or takes only part of a block, ends the erase; the message names the bytes
// written, "erased." is not said, and nothing after the failing block is touched.
TEST_F(EraseTest, FailingWriteEndsIt) {
    struct Case {
        bool shortWrite;
        int64_t at, written;
    };
    for (const Case c :
         {Case{false, 1024 + 3 * 2048 + 10, 3 * 2048}, Case{true, 1024 + 5 * 2048 + 100, 5 * 2048 + 100}}) {
        fixtures::writePatternFile(image_, kDisk, 9);
        backend_.drive(0).faults = {};
        (c.shortWrite ? backend_.drive(0).faults.shortWriteAt : backend_.drive(0).faults.writeErrorAt) = c.at;
        ScriptedUi ui;
        ui.gate = {true};
        const auto r = wipe::eraseSelection(backend_, ui, ui, range(1024, 20000), {false, 0xFF});
        EXPECT_EQ(r.outcome, wipe::Outcome::Failed);
        EXPECT_EQ(r.bytes, c.written);
        ASSERT_EQ(ui.asked.size(), 1u);
        EXPECT_EQ(ui.asked[0].text, "Failed to write to Drive 0 part, " +
                                        std::string(std::strerror(c.shortWrite ? ENOSPC : EIO)) +
                                        "\nErased only " + std::to_string(c.written) +
                                        " bytes of 20000 bytes.");
        EXPECT_EQ(ui.asked[0].icon, Icon::Error);
        expectOnly(1024, c.written, 0xFF);
    }
}

// Stop ends the erase after the block in progress, and still says "erased."; the next erase
// starts with Stop cleared and runs to its end.
TEST_F(EraseTest, StopThenNewRun) {
    ScriptedUi ui;
    ui.gate = {true, true};
    ui.onPump = [&] { ui.stop = ui.pumps == 5; };
    auto r = wipe::eraseSelection(backend_, ui, ui, range(2048, 40000), {false, 0x55});
    EXPECT_EQ(r.outcome, wipe::Outcome::Incomplete);
    EXPECT_EQ(r.bytes, 5 * 2048);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Device Drive 0 part erased."});
    expectOnly(2048, 5 * 2048, 0x55);
    ui.onPump = nullptr;
    r = wipe::eraseSelection(backend_, ui, ui, range(2048, 40000), {false, 0xAA});
    EXPECT_EQ(r.outcome, wipe::Outcome::Completed);
    expectOnly(2048, 40000, 0xAA);
}

TEST_F(EraseTest, SeekOpenEndAndFlushFailures) {
    {
        probe::ProbeBackend lands(backend_);
        lands.probe.seekSkew = 2048;
        ScriptedUi ui;
        ui.gate = {true};
        EXPECT_EQ(wipe::eraseSelection(lands, ui, ui, range(4096, 4096), {false, 0}).outcome,
                  wipe::Outcome::Failed);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{"Error. Could not seek on device. Stopping action"});
        expectOnly(0, 0, 0);
    }
    {
        const std::string file = dir_.file("locked.bin");
        fixtures::writePatternFile(file, 4096);
        backend_.fileFaults(file).failOpenModes = {platform::OpenMode::Write, platform::OpenMode::ReadWrite};
        ScriptedUi ui;
        ui.gate = {true};
        EXPECT_EQ(
            wipe::eraseSelection(backend_, ui, ui, helpers::selection(file, 0, 4096), {false, 0}).outcome,
            wipe::Outcome::Failed);
        EXPECT_EQ(ui.texts(),
                  std::vector<std::string>{"Cannot open file \"" + file + "\". " + std::strerror(EACCES)});
    }
    {
        ScriptedUi ui;
        ui.gate = {true};
        EXPECT_EQ(wipe::eraseSelection(backend_, ui, ui, range(kDisk - 100, 200), {false, 0}).outcome,
                  wipe::Outcome::Failed);
        EXPECT_EQ(ui.texts(),
                  std::vector<std::string>{"The selection ends at byte " + std::to_string(kDisk + 100) +
                                           ", beyond the end of Drive 0 part, which has " +
                                           std::to_string(kDisk) + " bytes. Nothing was written."});
        expectOnly(0, 0, 0);
    }
    {
        backend_.drive(0).faults.failFlush = true;
        ScriptedUi ui;
        ui.gate = {true};
        EXPECT_EQ(wipe::eraseSelection(backend_, ui, ui, range(0, 4096), {false, 0}).outcome,
                  wipe::Outcome::Failed);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{"Failed to write to Drive 0 part, " +
                                                       std::string(std::strerror(EIO))});
    }
}

// A real block device, written past the cache, over a range whose ends are not on sector bounds.
TEST_F(EraseTest, LoopDevice) {
    const std::string image = dir_.file("loop.img");
    fixtures::writePatternFile(image, 4 << 20, 21);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    ScriptedUi ui;
    ui.gate = {true};
    const int64_t offset = 1000, size = (1 << 20) + 3001;
    const auto r = wipe::eraseSelection(platform::systemBackend(), ui, ui,
                                        helpers::selection(loop.node(), offset, size), {false, 0xA5});
    EXPECT_EQ(r.outcome, wipe::Outcome::Completed);
    loop.detach();
    const auto bytes = fixtures::readFile(image);
    for (int64_t i = 0; i < int64_t(bytes.size()); ++i)
        ASSERT_EQ(bytes[size_t(i)], i >= offset && i < offset + size ? 0xA5 : patternByte(i, 21)) << i;
}

} // namespace
