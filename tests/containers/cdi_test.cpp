// Compressed disk images saved from and loaded onto image files shown as drives, and loop
// devices where we have them. Every write is fenced: the test backend refuses and records writes
// outside the selected range, and canary bytes around it are checked after each run. Python's
// zlib inflates every body we write.

#include "checkers.h"
#include "containers/cdi.h"
#include "containers/cdi_format.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

using containers::CdiOptions;
using containers::Codec;
using containers::Outcome;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

constexpr int64_t kDisk = 4 << 20;
const std::string kDrive0 = "\\\\.\\PHYSICALDRIVE0";
const std::string kDrive1 = "\\\\.\\PHYSICALDRIVE1";

// A disk of mixed bytes, a mebibyte each: a position pattern, zeros, text, random.
std::vector<uint8_t> mixedDisk() {
    std::vector<uint8_t> d(kDisk);
    for (int64_t i = 0; i < (1 << 20); ++i)
        d[size_t(i)] = fixtures::patternByte(i);
    const std::string words = "the quick brown fox jumps over the lazy dog while sectors spin; ";
    for (int64_t i = 2 << 20; i < (3 << 20); ++i)
        d[size_t(i)] = uint8_t(words[size_t(i * 7 / 5) % words.size()]);
    std::mt19937 rng(7);
    for (int64_t i = 3 << 20; i < kDisk; ++i)
        d[size_t(i)] = uint8_t(rng());
    return d;
}

TFileInfo range(const std::string& fileName, int64_t offset, int64_t size, const std::string& description) {
    TFileInfo info;
    info.FileName = fileName;
    info.Description = description;
    info.DefaultName = "DRIVE_0P1";
    info.Offset = offset;
    info.Size = size;
    info.CanRead = info.CanWrite = true;
    return info;
}

std::vector<uint8_t> slice(const std::vector<uint8_t>& v, int64_t offset, int64_t size) {
    return {v.begin() + offset, v.begin() + offset + size};
}

std::string doneMessage(int64_t length, int64_t size) {
    char pct[32];
    std::snprintf(pct, sizeof pct, "%.2f", size > 0 ? double(length) * 100.0 / double(size) : 0.0);
    return "Done.\nWritten " + std::to_string(length) + " bytes (" + pct + "% from original)";
}

std::vector<Codec> codecs() {
    std::vector<Codec> all;
    for (Codec c : {Codec::Zlib, Codec::ZlibParallel, Codec::Isal, Codec::IsalParallel})
        if (containers::codecAvailable(c)) all.push_back(c);
    return all;
}

class CdiTest : public testing::Test {
protected:
    void SetUp() override {
        disk_ = mixedDisk();
        fixtures::writeFile(dir_.file("d0.img"), disk_);
        fixtures::writePatternFile(dir_.file("d1.img"), kDisk, 99);
        backend_.addDrive(VirtualDrive(dir_.file("d0.img")));
        backend_.addDrive(VirtualDrive(dir_.file("d1.img")));
        backend_.drive(0).writable = platform::ByteRange::of(0, 0); // the source is never written
    }
    void TearDown() override {
        EXPECT_TRUE(backend_.violations().empty()) << backend_.violations().front();
        EXPECT_EQ(backend_.openStreams(), 0) << "every handle is closed";
    }
    // Saves and answers every question with its default.
    containers::Report save(ScriptedUi& ui, const TFileInfo& sel, const std::string& image, Codec codec) {
        ui.files = {image};
        return containers::SaveAsCompressed(backend_, ui, ui, sel, CdiOptions{codec, true});
    }
    // Loads onto drive 1, which may be written only inside the selection.
    containers::Report load(ScriptedUi& ui, const TFileInfo& sel, const std::string& image, Codec codec) {
        backend_.drive(1).writable = platform::ByteRange::of(sel.Offset, sel.Size);
        ui.files = {image};
        ui.gate = {true};
        return containers::LoadFromCompressed(backend_, ui, ui, sel, CdiOptions{codec, true});
    }
    // Drive 1 holds `bytes` at `offset` and its own pattern everywhere else.
    void expectDrive1(int64_t offset, const std::vector<uint8_t>& bytes) {
        const auto d = fixtures::readFile(dir_.file("d1.img"));
        ASSERT_EQ(int64_t(d.size()), kDisk);
        for (int64_t i = 0; i < kDisk; ++i) {
            const bool inside = i >= offset && i < offset + int64_t(bytes.size());
            ASSERT_EQ(d[size_t(i)], inside ? bytes[size_t(i - offset)] : fixtures::patternByte(i, 99))
                << (inside ? "byte " : "canary byte ") << i;
        }
    }
    std::vector<uint8_t> inflated(const std::string& image) {
        const auto v = checkers::pythonInflateBody(image, dir_.file("body"));
        EXPECT_EQ(v.status, 0) << v.output;
        return fixtures::readFile(dir_.file("body"));
    }

    fixtures::TempDir dir_;
    TestBackend backend_;
    std::vector<uint8_t> disk_;
};

class CdiCodecTest : public CdiTest, public testing::WithParamInterface<Codec> {};

} // namespace

namespace containers {
void PrintTo(Codec codec, std::ostream* os) {
    *os << codecName(codec);
}
} // namespace containers

// The format's own example, byte for byte; the whole header against its golden file
// (TARNWICK_REGENERATE_GOLDEN=1 writes it instead, on purpose); long texts cut to their fields,
// never inside a UTF-8 character.
TEST(CdiHeader, MatchesTheFormatsExampleByteForByte) {
    TFileInfo sel = range(kDrive0, 32256, 1048576, "Partition 1 of drive 0 \xC3\xA9t\xC3\xA9");
    const cdi::HeaderBytes h = cdi::buildHeader(sel);
    const uint8_t example[51] = {0x04, 0x5A, 0x43, 0x44, 0x49, 0x04, 0x30, 0x31, 0x30, 0x30, 0x04, 0x4C, 0x49,
                                 0x42, 0x5A, 0,    0,    0,    0,    0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00,
                                 0x00, 0x00, 0x7E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0,    0,    0,    0,    0,    0,    0,    0};
    EXPECT_EQ(std::memcmp(h.data(), example, 51), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data()) + 51, 10), std::string("DRIVE_0P1\0", 10));

    const std::string golden = std::string(TARNWICK_GOLDEN_DIR) + "/cdi_header_drive_0p1.bin";
    if (std::getenv("TARNWICK_REGENERATE_GOLDEN")) fixtures::writeFile(golden, {h.begin(), h.end()});
    EXPECT_EQ(fixtures::readFile(golden), std::vector<uint8_t>(h.begin(), h.end())) << golden;

    const std::string e = "\xC3\xA9"; // two bytes
    EXPECT_EQ(cdi::fitField(std::string(300, 'a'), 256), std::string(256, 'a'));
    EXPECT_EQ(cdi::fitField(std::string(255, 'a') + e, 256), std::string(255, 'a'));
    EXPECT_EQ(cdi::fitField(std::string(254, 'a') + e + "b", 256), std::string(254, 'a') + e);
    sel.Description = std::string(204, 'd') + e;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cdi::buildHeader(sel).data()) + 307, 205),
              std::string(204, 'd') + '\0');
}

// Every codec writes the same format: the header, one zlib stream that starts 78 01 and that
// Python's zlib inflates to the selection's bytes, the footer; and every image loads back, with
// either reader, at another offset of the same size.
TEST_P(CdiCodecTest, SavedBodyInflatesToTheSelectionAndLoadsAtAnotherOffset) {
    const TFileInfo sel = range(kDrive0, 32256, (3 << 20) + 777, "Partition 1");
    const std::string image = dir_.file("p1.cdi");
    ScriptedUi ui;
    ASSERT_EQ(save(ui, sel, image, GetParam()).outcome, Outcome::Completed);
    const auto bytes = fixtures::readFile(image);
    ASSERT_GT(bytes.size(), 520u);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{doneMessage(int64_t(bytes.size()), sel.Size)});
    EXPECT_EQ(ui.fileDialogs.at(0).filter, "Compressed Disk Image|*.cdi|Any file|*.*");
    EXPECT_EQ(ui.fileDialogs[0].defaultExt, ".cdi");
    EXPECT_EQ(ui.fileDialogs[0].initialName, "");
    EXPECT_TRUE(ui.fileDialogs[0].overwritePrompt);
    EXPECT_EQ(ui.modeLog, (std::vector<std::string>{"stoppable", "unstoppable"}))
        << "Stop shown, then hidden";
    EXPECT_EQ(ui.progressLog.back().first, 100);

    const auto h = cdi::buildHeader(sel);
    EXPECT_TRUE(std::equal(h.begin(), h.end(), bytes.begin()));
    EXPECT_EQ(bytes[512], 0x78);
    EXPECT_EQ(bytes[513], 0x01);
    EXPECT_EQ(inflated(image), slice(disk_, sel.Offset, sel.Size));

    for (Codec reader : codecs()) {
        ScriptedUi l;
        const TFileInfo target = range(kDrive1, 4096 + 512, sel.Size, "Drive 1 range");
        ASSERT_EQ(load(l, target, image, reader).outcome, Outcome::Completed)
            << containers::codecName(reader);
        EXPECT_TRUE(l.texts().empty()) << l.texts().front();
        EXPECT_EQ(l.gateTargets.size(), 1u);
        expectDrive1(target.Offset, slice(disk_, sel.Offset, sel.Size));
        fixtures::writePatternFile(dir_.file("d1.img"), kDisk, 99);
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, CdiCodecTest, testing::ValuesIn(codecs()), [](const auto& info) {
    std::string n = containers::codecName(info.param);
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

// A selection of size 0: nothing divides by it; the bar shows 100, the message 0.00.
TEST_F(CdiTest, EmptySelectionMakesAValidImage) {
    ScriptedUi ui;
    const std::string image = dir_.file("empty.cdi");
    ASSERT_EQ(save(ui, range(kDrive0, 100, 0, "nothing"), image, containers::defaultCodec()).outcome,
              Outcome::Completed);
    const int64_t length = int64_t(fixtures::readFile(image).size());
    EXPECT_EQ(ui.texts(), std::vector<std::string>{doneMessage(length, 0)});
    EXPECT_EQ(length % 4, 0);
    EXPECT_EQ(ui.progressLog.back().first, 100);
    EXPECT_TRUE(inflated(image).empty());
    ScriptedUi l;
    EXPECT_EQ(load(l, range(kDrive1, 100, 0, "nothing"), image, Codec::Zlib).outcome, Outcome::Completed);
}

// Bytes the device does not give are saved as zeros in their blocks, the rest in place; the
// message says how many.
TEST_F(CdiTest, UnreadBlocksAreSavedAsZerosAndCounted) {
    const int64_t start = 8192, size = 10 * 65536 + 100;
    struct Case {
        std::optional<int64_t> readErrorAt, endsAt;
        int64_t zeroFrom, zeroTo; // relative to the selection
    };
    const std::vector<Case> cases{
        {start + 65536 + 100, std::nullopt, 65536, 2 * 65536}, // a bad sector spoils its block only
        {std::nullopt, start + 3 * 65536 + 3392, 3 * 65536 + 3392, size}, // the device ends early
    };
    for (const auto& c : cases) {
        backend_.drive(0).faults.readErrorAt = c.readErrorAt;
        backend_.drive(0).faults.endsAt = c.endsAt;
        ScriptedUi ui;
        const std::string image = dir_.file("holes.cdi");
        EXPECT_EQ(save(ui, range(kDrive0, start, size, "d0"), image, containers::defaultCodec()).outcome,
                  Outcome::Incomplete);
        auto expected = slice(disk_, start, size);
        std::fill(expected.begin() + c.zeroFrom, expected.begin() + c.zeroTo, 0);
        EXPECT_EQ(inflated(image), expected);
        ASSERT_EQ(ui.texts().size(), 1u);
        EXPECT_EQ(ui.texts()[0],
                  doneMessage(int64_t(fixtures::readFile(image).size()), size) + "\n" +
                      std::to_string(c.zeroTo - c.zeroFrom) +
                      " bytes could not be read from d0; the image holds zeros in their place.");
    }
}

// A failed image write ends the save: a message naming the file and the system's error, no
// "Done.", no half-written image, and an earlier image kept.
TEST_F(CdiTest, FailedImageWritesEndTheSaveAndKeepAnEarlierImage) {
    const std::string image = dir_.file("out.cdi");
    for (const bool earlier : {false, true}) {
        backend_.fileFaults(image) = {};
        if (earlier) fixtures::writeFile(image, {1, 2, 3});
        const std::string written = earlier ? image + ".partial" : image;
        std::vector<std::pair<platform::testkit::Faults, std::string>> cases(3);
        cases[0].first.shortWriteAt = 100000, cases[0].second = "No space left on device";
        cases[1].first.writeErrorAt = 512, cases[1].second = "Input/output error";
        cases[2].first.failFlush = true, cases[2].second = "Input/output error";
        for (const auto& [faults, error] : cases) {
            backend_.fileFaults(written) = faults;
            ScriptedUi ui;
            EXPECT_EQ(save(ui, range(kDrive0, 0, 1 << 20, "d0"), image, Codec::Zlib).outcome,
                      Outcome::Failed);
            std::vector<std::string> expected{"Failed to write to " + image + ", " + error};
            if (earlier) expected.push_back("The earlier " + image + " was kept as it was.");
            EXPECT_EQ(ui.texts(), expected);
            EXPECT_EQ(std::filesystem::exists(image), earlier);
            EXPECT_FALSE(std::filesystem::exists(image + ".partial"));
            if (earlier) {
                EXPECT_EQ(fixtures::readFile(image), (std::vector<uint8_t>{1, 2, 3}));
            }
        }
    }
}

// Everything the load refuses, in the order it checks, before the gate and before the device
// is opened: truncated files of every length, wrong tags and version, a size mismatch; and a
// gate answered No.
TEST_F(CdiTest, LoadRefusesBrokenImagesBeforeTheGate) {
    const std::string good = dir_.file("good.cdi");
    ScriptedUi s;
    ASSERT_EQ(save(s, range(kDrive0, 0, 1000, "d0"), good, Codec::Zlib).outcome, Outcome::Completed);
    const auto bytes = fixtures::readFile(good);

    struct Case {
        std::vector<uint8_t> file;
        std::string message; // empty: none
        int64_t size = 1000;
        bool agree = true; // the gate's answer
    };
    std::vector<Case> cases{{bytes, "", 1000, false}};
    for (size_t n = 0; n <= 520; ++n)
        cases.push_back(
            {slice(bytes, 0, int64_t(n)), n < 512 ? "Failed to read header" : "Image file is incomplete."});
    cases.push_back({slice(bytes, 0, int64_t(bytes.size()) - 1), "Image file is incomplete."});
    for (size_t at = 0; at < 15; ++at) {
        auto tampered = bytes;
        tampered[at] ^= 0x20;
        cases.push_back({tampered, "Unknown format or unsupported version."});
    }
    auto version = bytes;
    std::memcpy(version.data() + 6, "0101", 4);
    cases.push_back({version, "Unknown format or unsupported version."});
    // A wrong tag is found before a missing footer.
    auto both = slice(bytes, 0, 600);
    both[1] = 'X';
    cases.push_back({both, "Unknown format or unsupported version."});
    auto mebibyte = bytes;
    const uint8_t mib[8] = {0, 0, 0x10, 0, 0, 0, 0, 0};
    std::memcpy(mebibyte.data() + 19, mib, 8);
    cases.push_back(
        {mebibyte,
         "File size does not match. \nCompressed image has 1048576 bytes (1024kB); your selection is "
         "2097152 bytes (2048kB)",
         2097152});

    const std::string file = dir_.file("bad.cdi");
    for (const auto& c : cases) {
        fixtures::writeFile(file, c.file);
        ScriptedUi ui;
        ui.files = {file};
        ui.gate = {c.agree};
        EXPECT_EQ(containers::LoadFromCompressed(backend_, ui, ui, range(kDrive1, 0, c.size, "d1")).outcome,
                  Outcome::NotStarted);
        EXPECT_EQ(ui.texts(),
                  c.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.message})
            << c.file.size();
        EXPECT_EQ(ui.gateTargets.size(), c.agree ? 0u : 1u);
    }
    for (const auto& [name, mode] : backend_.opens())
        EXPECT_NE(name, kDrive1) << "the device was opened";
    expectDrive1(0, {});
}

// A damaged body reports "Error" in the error box, whether inflate meets the damage in the data
// or only in the checksum at the end.
TEST_F(CdiTest, DamagedBodyIsAnError) {
    const std::string image = dir_.file("d.cdi");
    ScriptedUi s;
    ASSERT_EQ(save(s, range(kDrive0, 0, 300000, "d0"), image, Codec::Zlib).outcome, Outcome::Completed);
    const auto bytes = fixtures::readFile(image);
    // Where the stream ends, as zlib finds it: its last byte belongs to the Adler-32.
    std::vector<uint8_t> sink(300000);
    z_stream z{};
    ASSERT_EQ(inflateInit(&z), Z_OK);
    z.next_in = const_cast<Bytef*>(bytes.data() + 512);
    z.avail_in = uInt(bytes.size() - 512);
    z.next_out = sink.data();
    z.avail_out = uInt(sink.size());
    ASSERT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    const size_t adler = 512 + size_t(z.total_in) - 1;
    inflateEnd(&z);
    for (const size_t at : {size_t(514), bytes.size() / 2, adler}) {
        for (Codec reader : codecs()) {
            auto damaged = bytes;
            damaged[at] ^= 0xFF;
            fixtures::writeFile(dir_.file("damaged.cdi"), damaged);
            ScriptedUi ui;
            EXPECT_EQ(load(ui, range(kDrive1, 0, 300000, "d1"), dir_.file("damaged.cdi"), reader).outcome,
                      Outcome::Failed);
            ASSERT_EQ(ui.asked.size(), 1u) << at;
            EXPECT_EQ(ui.asked[0].text, "Error");
            EXPECT_EQ(ui.asked[0].icon, Icon::Error);
        }
    }

    // A wrong checksum that the reader meets only after the last byte of data: here the data
    // ends exactly where the first 64 KiB read of the file ends (a stored block of 65529 bytes
    // after the 7 bytes of headers), so only reading on to the stream's end finds it.
    const TFileInfo sel = range(kDrive0, 0, 65529, "d0");
    const auto data = slice(disk_, 0, sel.Size);
    std::vector<uint8_t> stored(sel.Size + 64);
    uLongf length = uLongf(stored.size());
    ASSERT_EQ(compress2(stored.data(), &length, data.data(), uLong(data.size()), 0), Z_OK);
    ASSERT_EQ(length, 65540u);
    stored.resize(length);
    stored.back() ^= 1;
    const auto h = cdi::buildHeader(sel);
    const std::string foot = cdi::footer(int64_t(stored.size()));
    std::vector<uint8_t> file(h.size() + stored.size() + foot.size());
    std::memcpy(file.data(), h.data(), h.size());
    std::memcpy(file.data() + h.size(), stored.data(), stored.size());
    std::memcpy(file.data() + h.size() + stored.size(), foot.data(), foot.size());
    fixtures::writeFile(dir_.file("late.cdi"), file);
    for (Codec reader : codecs()) {
        ScriptedUi ui;
        EXPECT_EQ(load(ui, range(kDrive1, 0, sel.Size, "d1"), dir_.file("late.cdi"), reader).outcome,
                  Outcome::Failed);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{"Error"}) << containers::codecName(reader);
    }
}

// A stopped save completes its file with a short body; loaded, it writes up to where the body
// ends, then says so, and nothing past it.
TEST_F(CdiTest, StoppedSaveLoadsUntilItsBodyEnds) {
    const std::string image = dir_.file("stopped.cdi");
    ScriptedUi ui;
    ui.onPump = [&ui] { ui.stop = ui.pumps >= 5; };
    const TFileInfo sel = range(kDrive0, 65536, 1 << 20, "d0");
    EXPECT_EQ(save(ui, sel, image, containers::defaultCodec()).outcome, Outcome::Incomplete);
    EXPECT_EQ(ui.texts(),
              std::vector<std::string>{doneMessage(int64_t(fixtures::readFile(image).size()), sel.Size)});
    const auto body = inflated(image);
    EXPECT_EQ(body, slice(disk_, sel.Offset, 5 * 65536));

    ScriptedUi l;
    EXPECT_EQ(load(l, range(kDrive1, 8192, 1 << 20, "d1"), image, containers::defaultCodec()).outcome,
              Outcome::Incomplete);
    EXPECT_EQ(l.texts(), std::vector<std::string>{"Error reading compressed stream"});
    expectDrive1(8192, body);

    // A body that ends inside a block: the whole blocks before it are written, that one is not.
    fixtures::writePatternFile(dir_.file("d1.img"), kDisk, 99);
    ScriptedUi s;
    ASSERT_EQ(save(s, range(kDrive0, 0, 10000, "d0"), image, Codec::Zlib).outcome, Outcome::Completed);
    auto bytes = fixtures::readFile(image);
    bytes[19] = 0x20; // the header says 20000 bytes
    bytes[20] = 0x4E;
    fixtures::writeFile(image, bytes);
    for (Codec reader : codecs()) {
        ScriptedUi p;
        EXPECT_EQ(load(p, range(kDrive1, 0, 20000, "d1"), image, reader).outcome, Outcome::Incomplete);
        EXPECT_EQ(p.texts(), std::vector<std::string>{"Error reading compressed stream"});
        expectDrive1(0, slice(disk_, 0, 8192));
    }
}

// A device that refuses a write ends the load with a message naming it and the error.
TEST_F(CdiTest, RefusedDeviceWriteEndsTheLoad) {
    const std::string image = dir_.file("w.cdi");
    ScriptedUi s;
    ASSERT_EQ(save(s, range(kDrive0, 0, 1 << 20, "d0"), image, Codec::Zlib).outcome, Outcome::Completed);
    backend_.drive(1).faults.writeErrorAt = 300000;
    ScriptedUi ui;
    EXPECT_EQ(load(ui, range(kDrive1, 0, 1 << 20, "Drive 1"), image, Codec::Zlib).outcome, Outcome::Failed);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Failed to write to Drive 1, Input/output error"});
}

// Real block devices: a range of one loop device saved, and loaded onto another loop device at
// another, unaligned offset, through direct I/O.
TEST(CdiLoopDevices, RoundTripBetweenLoopDevices) {
    fixtures::TempDir dir;
    const int64_t size = 8 << 20;
    fixtures::writePatternFile(dir.file("a.img"), size, 3);
    fixtures::writePatternFile(dir.file("b.img"), size, 77);
    fixtures::LoopDevice a(dir.file("a.img")), b(dir.file("b.img"));
    if (!a.available() || !b.available()) GTEST_SKIP() << a.reason() << b.reason();
    TestBackend backend;
    const TFileInfo source = range(a.node(), 3 * 4096 + 512, (1 << 20) + 512, "loop a");
    ScriptedUi ui;
    ui.files = {dir.file("loop.cdi")};
    ASSERT_EQ(containers::SaveAsCompressed(backend, ui, ui, source).outcome, Outcome::Completed)
        << ui.texts().back();

    const TFileInfo target = range(b.node(), 5 * 4096 + 1000, source.Size, "loop b");
    ScriptedUi l;
    l.files = {dir.file("loop.cdi")};
    l.gate = {true};
    ASSERT_EQ(containers::LoadFromCompressed(backend, l, l, target).outcome, Outcome::Completed);
    EXPECT_TRUE(l.texts().empty());
    b.detach();
    const auto bytes = fixtures::readFile(dir.file("b.img"));
    ASSERT_EQ(int64_t(bytes.size()), size);
    for (int64_t i = 0; i < size; ++i) {
        const bool inside = i >= target.Offset && i < target.Offset + target.Size;
        ASSERT_EQ(bytes[size_t(i)], inside ? fixtures::patternByte(i - target.Offset + source.Offset, 3)
                                           : fixtures::patternByte(i, 77))
            << i;
    }
}
