// Checksums: digests that md5sum and sha1sum agree with, over files, ranges past 4 GiB and loop
// devices; the short-read and seek messages; updates only after more than 250 ms; Stop.

#include "jobs/digest.h"
#include "maintenance/checksum.h"

#include "support/fixtures.h"
#include "support/probe_backend.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"
#include "support/tool_helpers.h"

#include <gtest/gtest.h>

using platform::testkit::TestBackend;

namespace {

std::string digestOf(digest::Context& c, const std::string& message, size_t piece) {
    for (size_t at = 0; at < message.size(); at += piece)
        c.add(message.data() + at, std::min(piece, message.size() - at));
    return c.finish();
}

TEST(Digest, KnownMessagesInAnyPieces) {
    struct Case {
        std::string message, md5, sha1;
    };
    const std::string million(1000000, 'a');
    const std::vector<Case> cases{
        {"", "D41D8CD98F00B204E9800998ECF8427E", "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72", "A9993E364706816ABA3E25717850C26C9CD0D89D"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0", "C12252CEDA8BE8994D5FA0290A47231C1D16AAE3"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "8215EF0796A20BCAAAE116D3876C664A",
         "84983E441C3BD26EBAAE4AA1F95129E5E54670F1"},
        {million, "7707D6AE4E027C70EEA2A935C2296F21", "34AA973CD4C4DAA4F61EEB2BDBAD27316534016F"},
    };
    for (const auto& c : cases) {
        for (const size_t piece : {size_t(1), size_t(3), size_t(64), size_t(8192), size_t(1) << 20}) {
            digest::Md5 md5;
            digest::Sha1 sha1;
            EXPECT_EQ(digestOf(md5, c.message, piece), c.md5) << c.message.substr(0, 20) << " in " << piece;
            EXPECT_EQ(digestOf(sha1, c.message, piece), c.sha1) << c.message.substr(0, 20) << " in " << piece;
            md5.start(); // a second calculation starts from scratch
            EXPECT_EQ(digestOf(md5, c.message, piece), c.md5);
        }
    }
}

TEST(Checksum, DurationsAreTimesOfDay) {
    const std::vector<std::tuple<int64_t, std::string, std::string>> cases{
        {5000, "HH:mm:ss", "00:00:05"},
        {90061001, "H:mm:ss", "1:01:01"}, // a day and more shows only what is beyond whole days
        {0, "h:mm:ss AP t", "12:00:00 AM"},
        {13 * 3600000 + 61000, "hh:mm:ss ap", "01:01:01 pm"},
        {1234, "HH 'h' mm''ss.zzz", "00 h 00'01.234"},
    };
    for (const auto& [ms, format, text] : cases)
        EXPECT_EQ(checksum::durationText(ms, format), text) << format;
}

// Records the time labels' texts of every display update.
struct TimeUi : ScriptedUi {
    std::vector<std::pair<std::string, std::string>> times;
    void progress(const Progress& p) override {
        ScriptedUi::progress(p);
        if (const auto* t = dynamic_cast<const checksum::TimeProgress*>(&p))
            times.emplace_back(t->elapsed, t->left);
    }
};

class ChecksumTest : public testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(backend_.openStreams(), 0) << "every handle is closed"; }
    fixtures::TempDir dir_;
    TestBackend backend_;
};

// Every size a block loop can get wrong, each kind, against md5sum and sha1sum of the same bytes.
TEST_F(ChecksumTest, DigestsEqualMd5sumAndSha1sum) {
    const std::string file = dir_.file("data.bin");
    fixtures::writePatternFile(file, 100000, 7);
    for (const int64_t size : {0, 1, 8191, 8192, 8193, 20000, 3 * 8192 + 5}) {
        const std::string slice = dir_.file("slice");
        helpers::copySlice(file, 777, size, slice);
        const std::string md5 = helpers::toolDigest("md5sum", slice),
                          sha1 = helpers::toolDigest("sha1sum", slice);
        for (const auto kind : {checksum::MD5, checksum::SHA1, checksum::Both}) {
            ScriptedUi ui;
            const auto r = checksum::calculate(backend_, ui, ui, helpers::selection(file, 777, size), kind);
            EXPECT_EQ(r.outcome, checksum::Outcome::Completed);
            EXPECT_EQ(r.bytes, size);
            EXPECT_EQ(r.first, kind == checksum::SHA1 ? sha1 : md5) << size << " kind " << int(kind);
            EXPECT_EQ(r.second, kind == checksum::Both ? sha1 : "") << size;
            EXPECT_TRUE(ui.asked.empty());
            EXPECT_EQ(ui.progressLog.back().first, 100);
            EXPECT_EQ(ui.modeLog, (std::vector<std::string>{"busy", "unstoppable", "idle"}));
        }
    }
}

// A read that fails or comes back short ends the run with the read-error message; the digests are
// those of the bytes before the failing block.
TEST_F(ChecksumTest, ShortReadGivesTheDigestOfTheBytesBefore) {
    const std::string file = dir_.file("data.bin");
    fixtures::writePatternFile(file, 100000, 3);
    struct Case {
        const char* name;
        std::optional<int64_t> readErrorAt, endsAt;
        int64_t digested;
        std::string message;
    };
    const std::vector<Case> cases{
        {"read error", 100 + 3 * 8192 + 17, std::nullopt, 3 * 8192,
         "Read error. Only read 0 bytes of 8192 bytes expected"},
        {"device ends", std::nullopt, 100 + 5 * 8192 + 1000, 5 * 8192,
         "Read error. Only read 1000 bytes of 8192 bytes expected"},
        {"last block short", std::nullopt, 100 + 6 * 8192 + 10, 6 * 8192,
         "Read error. Only read 10 bytes of 3000 bytes expected"},
    };
    for (const auto& c : cases) {
        backend_.fileFaults(file) = {};
        backend_.fileFaults(file).readErrorAt = c.readErrorAt;
        backend_.fileFaults(file).endsAt = c.endsAt;
        ScriptedUi ui;
        const auto r = checksum::calculate(backend_, ui, ui, helpers::selection(file, 100, 6 * 8192 + 3000),
                                           checksum::Both);
        helpers::copySlice(file, 100, c.digested, dir_.file("before"));
        EXPECT_EQ(r.outcome, checksum::Outcome::Incomplete) << c.name;
        EXPECT_EQ(ui.texts(), std::vector<std::string>{c.message}) << c.name;
        EXPECT_EQ(r.first, helpers::toolDigest("md5sum", dir_.file("before"))) << c.name;
        EXPECT_EQ(r.second, helpers::toolDigest("sha1sum", dir_.file("before"))) << c.name;
        EXPECT_EQ(ui.progressLog.back().first, 100) << "the bar goes to 100 however the run ends";
    }
}

TEST_F(ChecksumTest, OpenAndSeekFailuresShowNoDigest) {
    const std::string file = dir_.file("data.bin");
    fixtures::writePatternFile(file, 65536);
    {
        backend_.fileFaults(file).failOpenModes = {platform::OpenMode::Read};
        ScriptedUi ui;
        const auto r =
            checksum::calculate(backend_, ui, ui, helpers::selection(file, 0, 100, "Disk 9"), checksum::MD5);
        EXPECT_EQ(r.outcome, checksum::Outcome::Failed);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{"Failed to open Disk 9 for reading"});
        EXPECT_EQ(std::count(ui.modeLog.begin(), ui.modeLog.end(), "busy"), 0)
            << "the window stays as it was";
        backend_.fileFaults(file) = {};
    }
    probe::ProbeBackend lands(backend_);
    lands.probe.seekSkew = 512;
    ScriptedUi ui;
    const auto r = checksum::calculate(lands, ui, ui, helpers::selection(file, 4096, 100), checksum::Both);
    EXPECT_EQ(r.outcome, checksum::Outcome::Failed);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Seek operation failed"});
    EXPECT_TRUE(r.first.empty() && !r.md5 && !r.sha1);
    EXPECT_TRUE(lands.probe.reads.empty()) << "nothing is read from the wrong place";
    EXPECT_EQ(ui.modeLog.back(), "idle") << "the button is given back";
}

// Reads that take 100 ms each: updates come after more than 250 ms only (every third block),
// with elapsed and remaining time; a stop seen at an update ends the run with the digest so far.
TEST_F(ChecksumTest, UpdatesAfterMoreThan250msAndStopsThere) {
    const std::string file = dir_.file("data.bin");
    fixtures::writePatternFile(file, 10 * 8192);
    probe::ProbeBackend slow(backend_);
    TimeUi ui;
    slow.probe.clock = &ui.fakeClock;
    slow.probe.readMs = [](int64_t) { return 100; };
    ui.onPump = [&] { ui.stop = ui.pumps == 2; };
    checksum::Options options;
    options.timeFormat = "HH:mm:ss.zzz";
    options.buffer = checksum::kBlock; // one read a block, on this thread, so the clock is the test's
    options.buffers = 1;
    const auto r =
        checksum::calculate(slow, ui, ui, helpers::selection(file, 0, 10 * 8192), checksum::MD5, options);
    EXPECT_EQ(ui.times, (std::vector<std::pair<std::string, std::string>>{
                            {"Elapsed: 00:00:00.300", "Left: 00:00:00.700"},
                            {"Elapsed: 00:00:00.600", "Left: 00:00:00.400"}}));
    EXPECT_EQ(ui.pumps, 2) << "no pump between updates";
    EXPECT_EQ(r.outcome, checksum::Outcome::Incomplete);
    EXPECT_EQ(r.bytes, 6 * 8192);
    helpers::copySlice(file, 0, 6 * 8192, dir_.file("six"));
    EXPECT_EQ(r.first, helpers::toolDigest("md5sum", dir_.file("six")));
    EXPECT_TRUE(ui.asked.empty()) << "a stop says nothing";
}

// A range beyond 4 GiB of a sparse file is read from there: the seek uses all 64 bits.
TEST_F(ChecksumTest, RangeBeyond4GiB) {
    const std::string file = dir_.file("sparse.img");
    const int64_t at = (int64_t(4) << 30) + 12345;
    {
        fixtures::writePatternFile(dir_.file("tail"), 100000, 5);
        const auto bytes = fixtures::readFile(dir_.file("tail"));
        auto out = platform::systemBackend().open(file, platform::OpenMode::Create);
        ASSERT_TRUE(out.ok());
        ASSERT_EQ((*out)->writeAt(at, bytes.data(), int64_t(bytes.size())).valueOr(-1),
                  int64_t(bytes.size()));
    }
    ScriptedUi ui;
    const auto r =
        checksum::calculate(backend_, ui, ui, helpers::selection(file, at + 7, 50000), checksum::Both);
    helpers::copySlice(dir_.file("tail"), 7, 50000, dir_.file("expected"));
    EXPECT_EQ(r.first, helpers::toolDigest("md5sum", dir_.file("expected")));
    EXPECT_EQ(r.second, helpers::toolDigest("sha1sum", dir_.file("expected")));
}

// A loop device read past the cache, over a whole device and over a range whose ends are not
// on sector bounds.
TEST_F(ChecksumTest, LoopDevice) {
    const std::string image = dir_.file("loop.img");
    fixtures::writePatternFile(image, 8 << 20, 11);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    for (const auto& [offset, size] :
         std::vector<std::pair<int64_t, int64_t>>{{0, 8 << 20}, {1000, (3 << 20) + 5}}) {
        ScriptedUi ui;
        const auto r = checksum::calculate(platform::systemBackend(), ui, ui,
                                           helpers::selection(loop.node(), offset, size), checksum::Both);
        helpers::copySlice(image, offset, size, dir_.file("expected"));
        EXPECT_EQ(r.outcome, checksum::Outcome::Completed);
        EXPECT_EQ(r.first, helpers::toolDigest("md5sum", dir_.file("expected"))) << offset;
        EXPECT_EQ(r.second, helpers::toolDigest("sha1sum", dir_.file("expected"))) << offset;
    }
}

} // namespace
