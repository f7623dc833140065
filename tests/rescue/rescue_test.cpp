// Rescue imaging on a drive with bad ranges: the image and the map it leaves, a stopped run
// continued, the map file's text, the names it refuses, and the command.

#include "cli/cli.h"
#include "rescue/rescue.h"

#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace fs = std::filesystem;
using platform::ByteRange;
using rescue::Area;
using rescue::Map;
using rescue::State;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int64_t KiB = 1024, MiB = 1 << 20, kSize = 16 * MiB, kBlock = 64 * KiB;

// One sector, four adjacent ones, two across a block boundary, a dead stretch of five blocks,
// and the last sector.
const std::vector<ByteRange> kBad{ByteRange::of(MiB + 1536, 512), ByteRange::of(3 * MiB + 1024, 2048),
                                  ByteRange::of(5 * MiB - 1024, 2048), ByteRange::of(8 * MiB, 300 * KiB),
                                  ByteRange::of(kSize - 512, 512)};

std::string text(const std::string& path) {
    const auto bytes = fixtures::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

// What a selection's map must end as: its bad bytes, widened to whole units of `grain`, in state
// `bad`, the rest Finished.
std::vector<Area> expectedAreas(int64_t offset, int64_t size, State bad = State::Bad, int64_t grain = 1) {
    Map m(size);
    m.mark(0, size, State::Finished);
    for (const auto& r : kBad)
        m.mark(r.offset() / grain * grain - offset,
               (r.end() + grain - 1) / grain * grain - r.offset() / grain * grain, bad);
    return m.areas();
}

struct WatchingUi : ScriptedUi {
    std::function<void(const rescue::Status&)> seen;
    void progress(const Progress& p) override {
        ScriptedUi::progress(p);
        if (const auto* s = dynamic_cast<const rescue::Status*>(&p); s && seen) seen(*s);
    }
};

class RescueTest : public testing::Test {
protected:
    void SetUp() override {
        fixtures::writePatternFile(source_, kSize);
        platform::testkit::VirtualDrive d(source_);
        d.identity.serial = "S1";
        d.faults.badRanges = kBad;
        d.faults.readLog = reads_;
        backend_.addDrive(d);
    }
    static TFileInfo drive(int64_t offset = 0, int64_t size = kSize) {
        return helpers::selection(platform::physicalDriveName(0), offset, size);
    }
    rescue::Result run(ScriptedUi& ui, rescue::Options o = {}, const TFileInfo& sel = drive(),
                       const std::string& image = {}, const std::string& map = {}) {
        if (o.block == 0) o.block = kBlock;
        return rescue::rescueToFile(backend_, ui, ui, sel, image.empty() ? image_ : image,
                                    map.empty() ? map_ : map, false, o);
    }
    fixtures::TempDir dir_;
    std::string source_ = dir_.file("disk.img"), image_ = dir_.file("r.img"), map_ = dir_.file("r.map");
    std::shared_ptr<std::vector<ByteRange>> reads_ = std::make_shared<std::vector<ByteRange>>();
    platform::testkit::TestBackend backend_;
};

TEST_F(RescueTest, TheImageHoldsEveryReadableByteAndTheFillExactlyWhereTheMapSaysBad) {
    using Case = std::tuple<const char*, int64_t, int64_t, bool, Bytes>; // offset, size, reverse, fill
    for (const auto& [what, offset, size, reverse, fill] :
         std::vector<Case>{{"forwards, zeros", 0, kSize, false, {}},
                           {"backwards, a marker", 0, kSize, true, {0xDE, 0xAD, 0xBE, 0xEF}},
                           {"off the sector grid", 1000, kSize - 5096, false, {1, 2, 3, 4, 5}}}) {
        SCOPED_TRACE(what);
        fs::remove(image_), fs::remove(map_);
        ScriptedUi ui;
        const auto r = run(ui, {.reverse = reverse, .fill = fill}, drive(offset, size));
        EXPECT_EQ(r.outcome, Outcome::Incomplete);
        EXPECT_EQ(r.map.areas(), expectedAreas(offset, size));
        EXPECT_EQ(rescue::parseMap(text(map_), size), r.map) << "the map file says what the run found";
        std::vector<Area> bad;
        std::copy_if(r.map.areas().begin(), r.map.areas().end(), std::back_inserter(bad),
                     [](const Area& a) { return a.state == State::Bad; });
        EXPECT_EQ(r.badRanges, bad);
        const auto image = fixtures::readFile(image_);
        ASSERT_EQ(int64_t(image.size()), size);
        for (const Area& a : r.map.areas())
            for (int64_t p = a.offset; p < a.end(); ++p) {
                const bool isBad = a.state == State::Bad;
                const uint8_t want = isBad ? (fill.empty() ? 0 : fill[size_t(p) % fill.size()])
                                           : fixtures::patternByte(offset + p);
                if (image[size_t(p)] != want) FAIL() << "byte " << p << (isBad ? " (bad)" : "");
            }
        EXPECT_EQ(backend_.openStreams(), 0);
    }
}

TEST_F(RescueTest, WithoutSplittingTheFailedBlocksStayFailedAndUnwritten) {
    ScriptedUi ui;
    const auto r = run(ui, {.split = false, .fill = {0xEE}});
    EXPECT_EQ(r.map.areas(), expectedAreas(0, kSize, State::Failed, kBlock));
    const auto image = fixtures::readFile(image_);
    for (const Area& a : r.map.areas()) // the failed blocks are not filled
        EXPECT_TRUE(a.state != State::Failed ||
                    std::count(&image[a.offset], &image[a.end() - 1] + 1, 0) == a.size);
}

TEST_F(RescueTest, AStoppedRunContinuedEndsAsOneRunAndNeverRereadsWhatItRescued) {
    const rescue::Options o{.retries = 2, .fill = {0xA5}};
    ScriptedUi whole;
    reads_->clear();
    const auto one = run(whole, o, drive(), dir_.file("one.img"), dir_.file("one.map"));
    const size_t oneRunsReads = reads_->size();
    using rescue::Phase;
    for (const auto& [phase, pass] : std::vector<std::pair<Phase, int>>{{Phase::Copying, 1},
                                                                        {Phase::Copying, 2},
                                                                        {Phase::Trimming, 1},
                                                                        {Phase::Scraping, 1},
                                                                        {Phase::Retrying, 1},
                                                                        {Phase::Retrying, 2}}) {
        SCOPED_TRACE(char(phase) + std::to_string(pass));
        fs::remove(image_), fs::remove(map_);
        reads_->clear();
        WatchingUi first; // stopped a few reads into the phase
        int64_t entered = -1;
        first.seen = [&](const rescue::Status& s) {
            if (s.phase == phase && s.pass == pass && entered < 0) entered = int64_t(reads_->size());
        };
        first.onPump = [&] { first.stop = entered >= 0 && int64_t(reads_->size()) >= entered + 3; };
        const auto stopped = run(first, o);
        EXPECT_TRUE(stopped.stopped && stopped.outcome == Outcome::Incomplete);
        EXPECT_EQ(stopped.map.phase, phase);
        EXPECT_EQ(rescue::parseMap(text(map_), kSize), stopped.map) << "the map is written at a stop";
        const size_t stoppedRunsReads = reads_->size();
        reads_->clear();
        ScriptedUi second;
        const auto r = run(second, o);
        EXPECT_EQ(r.map.areas(), one.map.areas());
        EXPECT_EQ(fixtures::readFile(image_), fixtures::readFile(dir_.file("one.img")));
        for (const auto& read : *reads_) {
            const auto rescued = stopped.map.next(read.offset(), State::Finished);
            ASSERT_FALSE(rescued && rescued->offset < read.end()) << read.offset();
        }
        // A retry pass goes on where it stopped: no bad sector is tried more often than in one run.
        if (phase == Phase::Retrying) {
            EXPECT_EQ(stoppedRunsReads + reads_->size(), oneRunsReads);
        }
    }
}

// The first pass jumps over a bad stretch further and further; a slow failing drive still gets
// its progress and its map on time.
TEST_F(RescueTest, BadStretchesCostFewReadsAndTheMapKeepsUpWithASlowDrive) {
    WatchingUi ui;
    ui.seen = [&](const rescue::Status& s) {
        ui.stop = ui.stop || (s.phase == rescue::Phase::Copying && s.pass == 2);
    };
    EXPECT_EQ(run(ui).readErrors, 6) << "ten bad blocks; of the dead stretch's five, two are read";

    fs::remove(image_), fs::remove(map_);
    WatchingUi slow;
    backend_.drive(0).faults.clock = &slow.fakeClock;
    backend_.drive(0).faults.failedReadMs = 100;
    std::vector<int64_t> shown;
    std::string last;
    int64_t changed = 0, oldest = 0; // the map on disk: when it last changed, and its greatest age
    slow.seen = [&](const rescue::Status&) { shown.push_back(slow.fakeClock.now); };
    slow.onPump = [&] {
        if (const std::string now = fs::exists(map_) ? text(map_) : ""; now != last) {
            last = now, changed = slow.fakeClock.now;
        }
        oldest = std::max(oldest, slow.fakeClock.now - changed);
    };
    run(slow, {.fill = {}, .mapIntervalMs = 1000});
    ASSERT_GT(slow.fakeClock.now, 10000);
    for (size_t i = 1; i < shown.size(); ++i)
        EXPECT_LE(shown[i] - shown[i - 1], 250 + 100);
    EXPECT_LE(oldest, 1000 + 100);
}

// Trimming reads a failed block inwards from both edges up to the first unit that fails: every good
// byte is rescued for at most two failed reads a block, and only the middle of a bad stretch is
// left to scrape. The unit is the drive's physical sector unless one is chosen.
TEST_F(RescueTest, TrimmingRescuesEveryGoodByteForTwoFailedReadsABlock) {
    for (const auto& [physical, chosen, unit] : std::vector<std::tuple<uint32_t, int64_t, int64_t>>{
             {0, 0, 512}, {4096, 0, 4096}, {4096, 1024, 1024}}) {
        SCOPED_TRACE(unit);
        fs::remove(image_), fs::remove(map_);
        backend_.drive(0).physicalBytesPerSector = physical;
        ScriptedUi ui;
        rescue::Options trimOnly;
        trimOnly.scrape = false, trimOnly.sectorSize = chosen;
        const auto r = run(ui, trimOnly);
        Map bad(kSize); // the bad bytes, widened to whole units
        for (const auto& range : expectedAreas(0, kSize, State::Bad, unit))
            if (range.state == State::Bad) bad.mark(range.offset, range.size, State::Bad);
        EXPECT_EQ(r.map.bytesIn(State::Finished), kSize - bad.bytesIn(State::Bad));
        for (const Area& a : r.map.areas())
            EXPECT_TRUE(a.state == State::Finished ||
                        (bad.stateAt(a.offset) == State::Bad && bad.stateAt(a.end() - 1) == State::Bad))
                << a.offset << " " << char(a.state);
        EXPECT_GT(r.map.bytesIn(State::NotSplit), 0) << "the dead stretch's middle is left";
        EXPECT_LE(r.readErrors, 10 + 2 * 10) << "ten failed blocks, each read once whole";
        ScriptedUi scraping; // and a later run scrapes the rest
        trimOnly.scrape = true;
        EXPECT_EQ(run(scraping, trimOnly).map.areas(), expectedAreas(0, kSize, State::Bad, unit));
    }
}

// Onto another drive: behind the gate, into exactly the target's range, and never onto the source's
// own disk or a range of another size.
TEST_F(RescueTest, OntoADriveItWritesOnlyTheTargetRangeBehindTheGate) {
    const std::string other = dir_.file("other.img");
    fixtures::writeFile(other, Bytes(size_t(kSize), 0x77));
    platform::testkit::VirtualDrive target(other);
    const auto range = ByteRange::of(3 * MiB, 4 * MiB);
    target.writable = range;
    backend_.addDrive(target);
    const auto onto = [&](const TFileInfo& to, bool agree) {
        fs::remove(map_);
        ScriptedUi ui;
        ui.gate = {agree};
        rescue::Options o;
        o.block = kBlock;
        auto r = rescue::rescueToSelection(backend_, ui, ui, drive(MiB, 4 * MiB), to, map_, o);
        return std::make_pair(r, ui.texts().empty() ? std::string() : ui.texts().back());
    };
    const auto sel = [&](int d, int64_t offset, int64_t size) {
        return helpers::selection(platform::physicalDriveName(d), offset, size);
    };
    for (const auto& [what, to, said] : std::vector<std::tuple<const char*, TFileInfo, const char*>>{
             {"another size", sel(1, 3 * MiB, 2 * MiB), "needs one of the same size"},
             {"the source's disk", sel(0, 8 * MiB, 4 * MiB), "lies on the source's own disk"}}) {
        SCOPED_TRACE(what);
        const auto [r, text] = onto(to, true);
        EXPECT_EQ(r.outcome, Outcome::NotStarted);
        EXPECT_NE(text.find(said), std::string::npos) << text;
    }
    EXPECT_EQ(onto(sel(1, 3 * MiB, 4 * MiB), false).first.outcome, Outcome::NotStarted) << "the gate refused";
    EXPECT_EQ(fixtures::readFile(other), Bytes(size_t(kSize), 0x77));
    EXPECT_TRUE(reads_->empty());

    const auto [r, text] = onto(sel(1, 3 * MiB, 4 * MiB), true);
    EXPECT_EQ(r.map.areas(), expectedAreas(MiB, 4 * MiB));
    ScriptedUi file;
    run(file, {}, drive(MiB, 4 * MiB), dir_.file("one.img"), dir_.file("one.map"));
    auto expected = Bytes(size_t(kSize), 0x77);
    const auto image = fixtures::readFile(dir_.file("one.img"));
    std::copy(image.begin(), image.end(), expected.begin() + range.offset());
    EXPECT_EQ(fixtures::readFile(other), expected);
    EXPECT_TRUE(backend_.violations().empty());
}

TEST(RescueMap, TheTextRoundTripsAndTheReaderTakesLooseForms) {
    Map m(0x30000);
    m.mark(0x1000, 0x200, State::Bad);
    m.mark(0x1200, 0xA00, State::NotSplit);
    m.mark(0x1C00, 0x400, State::Failed);
    m.mark(0, 0x1000, State::Finished);
    m.phase = rescue::Phase::Trimming, m.position = 0x1200;
    m.sourceName = "/dev/sdb", m.sourceOffset = 1048576, m.sourceSerial = "WD-1 23";
    const std::string golden = "# Rescue map written by Tarnwick\n"
                               "# Source: /dev/sdb\n"
                               "# Source offset: 1048576\n"
                               "# Source serial: WD-1 23\n"
                               "# current_pos  current_status  current_pass\n"
                               "0x00001200     *               1\n"
                               "#      pos        size  status\n"
                               "0x00000000  0x00001000  +\n"
                               "0x00001000  0x00000200  -\n"
                               "0x00001200  0x00000A00  /\n"
                               "0x00001C00  0x00000400  *\n"
                               "0x00002000  0x0002E000  ?\n";
    EXPECT_EQ(rescue::formatMap(m), golden);
    EXPECT_EQ(rescue::parseMap(golden, 0x30000), m);
    m.sourceName.clear(), m.sourceOffset = -1, m.sourceSerial.clear();
    const std::string loose = "# another maker\n\n  0X1200 * 1   # where it was\n0 4096 +\n0x1000\t0x100  -\n"
                              "0x1100 0x100 -\n0x1200 0x0a00 /\n0x1c00 0x400 *\n0x2000 0x2e000 ?\n";
    EXPECT_EQ(rescue::parseMap(loose, 0x30000), m);
    Map big(int64_t(1) << 40);
    big.mark(0x123456789A, 1, State::Bad);
    EXPECT_NE(rescue::formatMap(big).find("0x123456789A  0x00000001  -\n"), std::string::npos);
}

TEST(RescueMap, TheReaderRefusesWhatIsNotThisSelectionsMap) {
    const std::string head = "0x0 ? 1\n";
    for (const auto& [text, why] : std::vector<std::pair<std::string, std::string>>{
             {head + "0x0 0x800 +\n0x900 0x700 -\n", "line 3: a gap from 0x00000800 to 0x00000900"},
             {head + "0x0 0x800 +\n0x700 0x900 -\n", "line 3: the area at 0x00000700 overlaps"},
             {head + "0x0 0x800 +\n", "the map covers 2048 bytes, the selection has 4096"},
             {head + "0x0 0x1001 +\n", "line 2: the area at 0x00000000 ends beyond"},
             {head + "0x0 0x1000 x\n", "line 2: not an area"},
             {head + "0x0 0xG000 +\n", "line 2: not an area"},
             {"# nothing\n", "no status line"},
             {"0x2000 ? 1\n0x0 0x1000 +\n", "line 1: the position 0x00002000 lies beyond"}}) {
        std::string said;
        EXPECT_FALSE(rescue::parseMap(text, 4096, &said)) << text;
        EXPECT_EQ(said.find(why), 0u) << said;
    }
}

TEST_F(RescueTest, RefusesNamesItMustNotWriteAndMapsThatDoNotFit) {
    const std::string theirs = dir_.file("theirs");
    const auto mapOf = [&](const Map& m) { std::ofstream(map_) << rescue::formatMap(m); };
    Map rescued(kSize);
    rescued.mark(0, 2 * MiB, State::Finished);
    const auto madeFrom = [](int64_t offset, const std::string& serial) {
        Map m(kSize);
        m.sourceName = "elsewhere", m.sourceOffset = offset, m.sourceSerial = serial;
        return m;
    };
    const std::vector<std::tuple<const char*, std::function<void()>, const char*>> cases{
#ifndef _WIN32 // making a link needs a privilege on Windows
        {"a link as the image", [&] { fs::create_symlink(theirs, image_); }, "it is a symbolic link"},
        {"a link as the map", [&] { fs::create_symlink(theirs, map_); }, "it is a symbolic link"},
#endif
        {"a map without its image", [&] { mapOf(Map(kSize)); }, "exists but the image"},
        {"a map of another size", [&] { fixtures::writeFile(image_, {}), mapOf(Map(kSize / 2)); },
         "cannot be"},
        {"an image cut short", [&] { fixtures::writeFile(image_, Bytes(MiB)), mapOf(rescued); },
         "is not the image"},
        {"an image without its map", [&] { fixtures::writeFile(image_, Bytes(3, 1)); }, "was kept as it was"},
        {"a map of another place on the drive",
         [&] { fixtures::writeFile(image_, {}), mapOf(madeFrom(512, "")); }, "from its byte 512,"},
        {"a map of another drive", [&] { fixtures::writeFile(image_, {}), mapOf(madeFrom(0, "OTHER")); },
         "(serial OTHER), this"}};
    for (const auto& [what, make, said] : cases) {
        SCOPED_TRACE(what);
        fs::remove(image_), fs::remove(map_), fixtures::writeFile(theirs, {'t'});
        make();
        const auto before = fs::is_regular_file(fs::symlink_status(image_)) ? text(image_) : "";
        ScriptedUi ui;
        EXPECT_EQ(run(ui).outcome, Outcome::NotStarted);
        ASSERT_FALSE(ui.asked.empty());
        EXPECT_NE(ui.asked.back().text.find(said), std::string::npos) << ui.asked.back().text;
        EXPECT_TRUE(reads_->empty());
        EXPECT_EQ(text(theirs), "t");
        EXPECT_EQ(fs::is_regular_file(fs::symlink_status(image_)) ? text(image_) : "", before);
    }
}

// An image that takes no more, or a drive that is gone: the run ends there, failed, and the map
// on disk names only what the image holds.
TEST_F(RescueTest, AFailureEndsTheRunWithTheMapNamingOnlyWhatTheImageHolds) {
    platform::testkit::Faults& drive = backend_.drive(0).faults;
    drive.readError = ENODEV;
    const std::vector<std::tuple<std::optional<int64_t>, std::vector<ByteRange>, std::string>> cases{
        {4 * MiB + 100, {}, "Failed to write to " + image_ + " at byte 4194304, "},
        {std::nullopt,
         {ByteRange::of(4 * MiB, 512)},
         "Failed to read D at byte 4194304, No such device: no further read can succeed."}};
    for (const auto& [writeErrorAt, badRanges, said] : cases) {
        SCOPED_TRACE(said);
        fs::remove(image_), fs::remove(map_);
        backend_.fileFaults(image_).writeErrorAt = writeErrorAt;
        drive.badRanges = badRanges;
        ScriptedUi ui;
        EXPECT_EQ(run(ui).outcome, Outcome::Failed);
        EXPECT_EQ(ui.texts().back().rfind(said, 0), 0u) << ui.texts().back();
        const auto map = rescue::parseMap(text(map_), kSize);
        ASSERT_TRUE(map);
        EXPECT_EQ(map->next(0, State::Finished)->size, 4 * MiB);
        EXPECT_FALSE(map->next(4 * MiB, State::Finished)) << "nothing after it is rescued";
        EXPECT_EQ(backend_.openStreams(), 0);
    }
}

// In place: the bytes past the selection stay, a short image grows to the selection's size.
TEST_F(RescueTest, AContinuedRunWritesTheImageInPlaceAndNeverShrinksIt) {
    ScriptedUi whole;
    run(whole, {}, drive(), dir_.file("one.img"), dir_.file("one.map"));
    const auto one = fixtures::readFile(dir_.file("one.img"));
    for (const int64_t tail : {int64_t(8192), -4 * MiB}) {
        SCOPED_TRACE(tail);
        fs::remove(image_), fs::remove(map_), reads_->clear();
        ScriptedUi first;
        first.onPump = [&] { first.stop = reads_->size() >= 16; }; // 1 MiB rescued
        run(first);
        fs::resize_file(image_, uintmax_t(kSize + tail));
        auto expected = one;
        if (tail > 0) { // bytes of the user's past the selection
            expected.resize(size_t(kSize + tail), 0x77);
            std::fstream(image_, std::ios::in | std::ios::out | std::ios::binary)
                .seekp(kSize)
                .write(std::string(size_t(tail), '\x77').data(), tail);
        }
        ScriptedUi second;
        run(second);
        EXPECT_EQ(fixtures::readFile(image_), expected);
    }
}

TEST_F(RescueTest, TheCommandPrintsTheBadRangesAndTheSummary) {
    // The command on drive 0 into image_ and map_, with these options.
    const auto with = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"rescue", "0", image_, map_});
        std::istringstream in;
        std::ostringstream out, err;
        const int status = cli::run(args, backend_, cli::Io{in, out, err, false, false});
        return std::make_pair(status, out.str());
    };
    for (const auto& bad : std::vector<std::vector<std::string>>{{"--fill", "XY"},
                                                                 {"--fill", "ABC"},
                                                                 {"--fill", std::string(1026, 'A')},
                                                                 {"--retries", "256"},
                                                                 {"--sector-size", "1000"},
                                                                 {"--no-split", "--no-scrape"},
                                                                 {"--target-offset", "0"},
                                                                 {"--agree", "--reverse"}})
        EXPECT_EQ(with(bad).first, 2) << bad[1];
    EXPECT_FALSE(fs::exists(image_));

    const auto r = with({"--offset", "1M", "--size", "4M", "--fill", "ee", "--retries", "2", "--reverse"});
    EXPECT_EQ(r.first, 1);
    EXPECT_EQ(r.second, "Bad: 1536 512 (byte 1050112 of " + source_ + ")\n" +
                            "Bad: 2098176 2048 (byte 3146752 of " + source_ + ")\n" +
                            "Bad: 4193280 1024 (byte 5241856 of " + source_ + ")\n" +
                            "Rescued 4190720 of 4194304 bytes; 3584 bytes bad in 3 areas.\n");
    EXPECT_EQ(fixtures::readFile(image_)[1536], 0xEE);
    // On a drive with a partition table, each range names the partitions it falls in.
    fixtures::writeMbr(source_, {{0x83, 2048, 4096}, {0x07, 6144, 8192}});
    fs::remove(map_);
    const auto named = with({"--offset", "1M", "--size", "4M", "--replace"});
    EXPECT_NE(named.second.find("(byte 1050112 of " + source_ + "; in 0p1)\n"), std::string::npos)
        << named.second;
    EXPECT_NE(named.second.find("(byte 3146752 of " + source_ + "; in 0p2)\n"), std::string::npos);
    fs::remove(map_);
    EXPECT_EQ(with({"--size", "1M"}).first, 3) << "an image without its map is kept";
    EXPECT_EQ(with({"--size", "1M", "--replace"}),
              std::make_pair(0, std::string("Rescued all 1048576 bytes.\n")));
}

} // namespace
