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
#include <map>
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

// One reader per inflater this build has.
std::vector<Codec> readers() {
    std::vector<Codec> all{Codec::Zlib};
    if (containers::codecAvailable(Codec::Isal)) all.push_back(Codec::Isal);
    return all;
}

// What zlib's own inflate makes of a stream (up to `limit` bytes) before it ends or stops on
// damage: the bytes the stream really holds. `used`: the stream's bytes it took.
std::vector<uint8_t> zlibReads(const std::vector<uint8_t>& stream, size_t limit, size_t* used = nullptr) {
    std::vector<uint8_t> out(limit + 1);
    uLongf length = uLongf(out.size());
    uLong taken = uLong(stream.size());
    uncompress2(out.data(), &length, stream.data(), &taken);
    out.resize(length);
    if (used) *used = taken;
    return out;
}

// A zlib stream in fixed Huffman codes: `letters` times 'a', then a match of 258 bytes `distance`
// back, the end and the Adler-32 of the letters.
std::vector<uint8_t> farMatchStream(int letters, int distance) {
    std::vector<uint8_t> out{0x78, 0x01};
    uint32_t acc = 0, bits = 0;
    const auto put = [&](uint32_t value, int n, bool huffman) { // Huffman codes go highest bit first
        for (int i = 0; i < n; ++i) {
            acc |= (value >> (huffman ? n - 1 - i : i) & 1) << bits;
            if (++bits == 8) out.push_back(uint8_t(acc)), acc = 0, bits = 0;
        }
    };
    put(3, 3, false); // the last block, fixed codes
    for (int i = 0; i < letters; ++i)
        put(0x30 + 'a', 8, true);
    put(0xC5, 8, true); // length 258
    const auto base = [](int s) { return s < 4 ? s + 1 : ((2 | (s & 1)) << (s / 2 - 1)) + 1; };
    int symbol = 29;
    while (base(symbol) > distance)
        --symbol;
    put(uint32_t(symbol), 5, true);
    put(uint32_t(distance - base(symbol)), symbol < 4 ? 0 : symbol / 2 - 1, false);
    put(0, 7, true); // end of block
    if (bits > 0) out.push_back(uint8_t(acc));
    const std::vector<uint8_t> text(size_t(letters), 'a');
    const auto adler = uint32_t(adler32(1, text.data(), uInt(text.size())));
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(adler >> shift));
    return out;
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
    // `size` bytes of drive 1 from `offset`, read from its file.
    std::vector<uint8_t> drive1(int64_t offset, int64_t size) {
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        std::FILE* f = std::fopen(dir_.file("d1.img").c_str(), "rb");
        EXPECT_TRUE(f && std::fseek(f, long(offset), SEEK_SET) == 0 &&
                    std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size());
        if (f) std::fclose(f);
        return bytes;
    }
    std::vector<uint8_t> inflated(const std::string& image) {
        const auto v = checkers::inflateBody(image, dir_.file("body"));
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

// Stop stays offered until the result has been shown; a stopped save never replaces an earlier
// image.
TEST_F(CdiTest, TheResultComesBeforeStopGoesAndAStoppedSaveKeepsTheEarlierImage) {
    struct Recording : ScriptedUi {
        std::vector<std::string> modesAtMessage;
        Button ask(const Question& q) override {
            modesAtMessage = modeLog;
            return ScriptedUi::ask(q);
        }
    };
    const std::string image = dir_.file("o.cdi");
    Recording done;
    ASSERT_EQ(save(done, range(kDrive0, 0, 65536, "d0"), image, Codec::Zlib).outcome, Outcome::Completed);
    EXPECT_EQ(done.modesAtMessage, std::vector<std::string>{"stoppable"});
    const auto earlier = fixtures::readFile(image);
    Recording stopped;
    stopped.onPump = [&stopped] { stopped.stop = stopped.pumps >= 2; };
    EXPECT_EQ(save(stopped, range(kDrive0, 0, 1 << 20, "d0"), image, Codec::Zlib).outcome,
              Outcome::Incomplete);
    EXPECT_EQ(stopped.texts(),
              std::vector<std::string>{"Stopped after 131072 of 1048576 bytes. The earlier " + image +
                                       " was kept as it was."});
    EXPECT_EQ(fixtures::readFile(image), earlier);
}

// A failed image write ends the save: a message naming the file and the system's error, no
// "Done.", no half-written image, and an earlier image kept.
TEST_F(CdiTest, FailedImageWritesEndTheSaveAndKeepAnEarlierImage) {
    const std::string image = dir_.file("out.cdi");
    for (const bool earlier : {false, true}) {
        backend_.fileFaults(image) = {};
        if (earlier) fixtures::writeFile(image, {1, 2, 3});
        const std::string& written = image; // a new file takes the faults of the name it is made for
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
            const std::vector<std::string> left{"d0.img", "d1.img", "out.cdi"};
            EXPECT_EQ(fixtures::namesIn(dir_.path()),
                      earlier ? left : std::vector<std::string>(left.begin(), left.end() - 1))
                << "no side file is left";
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

// A damaged body never loads as success, and never writes a byte its stream does not hold: with
// either inflater the load ends in "Error", what is wrong and how many bytes reached the target,
// and the target holds zlib's own reading of the stream up to there, its pattern beyond. An
// image of one engine piece (up to 1 MiB) is written whole or not at all; in a larger one the
// pieces before the damaged one stay written.
TEST_F(CdiTest, DamagedBodyIsAnError) {
    // 300000 bytes of the pattern; 3 MiB of zeros, text and random bytes, mostly its last MiB.
    std::map<int64_t, std::vector<uint8_t>> saved;
    for (const auto& [offset, size] : {std::pair<int64_t, int64_t>{0, 300000}, {1 << 20, 3 << 20}}) {
        ScriptedUi s;
        ASSERT_EQ(save(s, range(kDrive0, offset, size, "d0"), dir_.file("s.cdi"), Codec::Zlib).outcome,
                  Outcome::Completed);
        const auto file = fixtures::readFile(dir_.file("s.cdi"));
        size_t used = 0;
        ASSERT_EQ(zlibReads({file.begin() + 512, file.end()}, size_t(size), &used).size(), size_t(size));
        saved[size].assign(file.begin() + 512, file.begin() + 512 + long(used));
    }
    // A byte of the stream changed: at a fraction of its length, or its last (the Adler-32's).
    const auto changed = [](std::vector<uint8_t> stream, double where, uint8_t mask = 0xFF) {
        stream[where < 1 ? size_t(double(stream.size()) * where) : stream.size() - 1] ^= mask;
        return stream;
    };
    // Stored blocks, cut or not: cut, the footer is taken as data, then the file ends. 65529
    // bytes end where the first 64 KiB read of the file ends, so only reading on to the stream's
    // end finds a wrong checksum.
    const auto stored = [&](int64_t size, size_t cut) {
        std::vector<uint8_t> stream(size_t(size) + 100);
        uLongf length = uLongf(stream.size());
        EXPECT_EQ(compress2(stream.data(), &length, disk_.data(), uLong(size), 0), Z_OK);
        stream.resize(std::min<size_t>(length, cut));
        return stream;
    };
    ASSERT_EQ(stored(65529, SIZE_MAX).size(), 65540u);
    struct Case {
        std::string name;
        int64_t size; // the header's and the selection's
        std::vector<uint8_t> stream;
        std::string what; // empty: any
        bool written;     // some pieces reach the target
    };
    const std::string checksum = "its checksum does not match its data",
                      data = "its compressed data is damaged";
    const std::vector<Case> cases{
        {"zlib header", 300000, changed(saved[300000], 0), "", false},
        {"first block's header", 300000, changed(saved[300000], 0.0001, 0x04), "", false},
        {"middle", 300000, changed(saved[300000], 0.5, 0x10), "", false},
        {"near the end", 300000, changed(saved[300000], 0.98, 0x01), "", false},
        {"Adler-32", 300000, changed(saved[300000], 1), checksum, false},
        {"Adler-32 past the first read", 65529, changed(stored(65529, SIZE_MAX), 1, 0x01), checksum, false},
        {"last of three pieces", 3 << 20, changed(saved[3 << 20], 0.9, 0x40), "", true},
        {"Adler-32 after three pieces", 3 << 20, changed(saved[3 << 20], 1, 0x01), checksum, true},
        {"cut short", 300000, {saved[300000].begin(), saved[300000].begin() + 20000}, "", false},
        {"stored, cut short", 100000, stored(100000, 70000), "the file ends inside its data", false},
        {"longer than its header says", 200000, saved[300000],
         "its data runs past the 200000 bytes its header gives", false},
        {"match before the first byte", 16384, farMatchStream(8000, 9000), data, false},
        {"match before the first byte, no letters", 16384, farMatchStream(0, 32768), data, false},
    };
    const std::string image = dir_.file("damaged.cdi");
    for (const auto& c : cases) {
        const TFileInfo target = range(kDrive1, 0, c.size, "d1");
        const auto h = cdi::buildHeader(target);
        const std::string foot = cdi::footer(int64_t(c.stream.size()));
        auto file = c.stream;
        file.insert(file.begin(), h.begin(), h.end());
        file.insert(file.end(), foot.begin(), foot.end());
        fixtures::writeFile(image, file);
        const auto holds = zlibReads(c.stream, size_t(c.size));
        for (const Codec reader : readers()) {
            SCOPED_TRACE(c.name + ", " + containers::codecName(reader));
            ScriptedUi ui;
            const auto report = load(ui, target, image, reader);
            EXPECT_EQ(report.outcome, Outcome::Failed);
            const std::string head = "Error\n" + image + " is damaged: ";
            const std::string tail = report.bytes == 0
                                         ? ". Nothing was written to d1."
                                         : ". " + std::to_string(report.bytes) + " bytes of " +
                                               std::to_string(c.size) +
                                               " were written to d1 before the damage was found.";
            ASSERT_EQ(ui.asked.size(), 1u);
            EXPECT_EQ(ui.asked[0].icon, Icon::Error);
            if (c.what.empty())
                EXPECT_TRUE(ui.asked[0].text.starts_with(head) && ui.asked[0].text.ends_with(tail))
                    << ui.asked[0].text;
            else
                EXPECT_EQ(ui.asked[0].text, head + c.what + tail);
            EXPECT_EQ(report.bytes > 0, c.written) << report.bytes;
            ASSERT_LE(report.bytes, int64_t(holds.size()));
            expectDrive1(0, slice(holds, 0, report.bytes));
            if (report.bytes > 0) fixtures::writePatternFile(dir_.file("d1.img"), kDisk, 99);
        }
    }
}

// Random bit flips anywhere in the body of an image of text and random bytes: every load either
// completes with exactly the saved bytes or fails having written nothing.
TEST_F(CdiTest, RandomFlipsNeverLoadWrongBytes) {
    const TFileInfo sel = range(kDrive0, (3 << 20) - 131072, 196608, "d0");
    const std::string image = dir_.file("r.cdi"), flippedImage = dir_.file("flipped.cdi");
    ScriptedUi s;
    ASSERT_EQ(save(s, sel, image, Codec::Zlib).outcome, Outcome::Completed);
    const auto bytes = fixtures::readFile(image);
    const auto original = slice(disk_, sel.Offset, sel.Size);
    size_t used = 0;
    zlibReads({bytes.begin() + 512, bytes.end()}, size_t(sel.Size), &used);
    const TFileInfo target = range(kDrive1, 4096, sel.Size, "d1");
    const auto pattern = drive1(target.Offset - 1, target.Size + 2);
    std::mt19937 rng(20240611);
    int failed = 0;
    for (int round = 0; round < 300; ++round) {
        auto damaged = bytes;
        for (uint32_t n = rng() % 3 + 1; n > 0; --n)
            damaged[512 + rng() % used] ^= uint8_t(1u << (rng() % 8));
        fixtures::writeFile(flippedImage, damaged);
        for (const Codec reader : readers()) {
            SCOPED_TRACE("round " + std::to_string(round) + ", " + containers::codecName(reader));
            ScriptedUi ui;
            const auto report = load(ui, target, flippedImage, reader);
            auto expected = pattern;
            const bool completed = report.outcome == Outcome::Completed;
            if (completed) {
                std::copy(original.begin(), original.end(), expected.begin() + 1);
            } else {
                ++failed;
                ASSERT_EQ(report.outcome, Outcome::Failed);
                ASSERT_EQ(report.bytes, 0);
                ASSERT_TRUE(ui.asked.at(0).text.starts_with("Error\n")) << ui.asked[0].text;
            }
            ASSERT_TRUE(drive1(target.Offset - 1, target.Size + 2) == expected)
                << "wrong bytes on the target";
            if (completed) fixtures::writePatternFile(dir_.file("d1.img"), kDisk, 99);
        }
    }
    EXPECT_GT(failed, 150 * int(readers().size())) << "most flips break the stream";
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
