// The hex viewer's engine over real files, image files shown as drives and loop devices: the
// counting rules of the filters and the search, the page a refresh builds, navigation, and the
// one-byte write with canaries around it.

#include "core/selection.h"
#include "inspect/byte_classes.h"
#include "inspect/hexview.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <functional>
#include <map>

using fixtures::patternByte;
using hexview::Filter;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

struct Recorder final : hexview::Display {
    std::vector<std::string> infos, reads, addresses, statuses;
    int clears = 0;
    void cleared() override { ++clears; }
    void blockAdded(int) override {}
    void info(const std::string& t) override { infos.push_back(t); }
    void readCount(const std::string& t) override { reads.push_back(t); }
    void address(const std::string& t) override { addresses.push_back(t); }
    void status(const std::string& t) override {
        if (!t.empty()) statuses.push_back(t);
    }
};

TFileInfo fileSelection(const std::string& path, int64_t offset, int64_t size) {
    TFileInfo t;
    t.FileName = t.Description = path;
    t.Offset = t.BaseOffset = offset;
    t.Size = t.BaseSize = size;
    return t;
}

std::vector<uint8_t> block(int text, int other, int zero, int ff) {
    std::vector<uint8_t> b;
    b.insert(b.end(), size_t(text), 'q');
    b.insert(b.end(), size_t(other), '.');
    b.insert(b.end(), size_t(zero), 0);
    b.insert(b.end(), size_t(ff), 255);
    return b;
}

} // namespace

TEST(HexFilter, ClassesOfEveryByteValue) {
    // Each value alone (counted byte by byte) and 256 times (counted in vectors).
    for (int v = 0; v < 256; ++v) {
        const bool text =
            v == ' ' || (v >= '0' && v <= '9') || (v >= 'A' && v <= 'Z') || (v >= 'a' && v <= 'z');
        const bool empty = v == 0 || v == 255;
        const std::vector<uint8_t> bytes(256, uint8_t(v));
        for (size_t n : {size_t(1), bytes.size()}) {
            const auto c = inspect::countClasses(bytes.data(), n);
            EXPECT_EQ(c.text, text ? int64_t(n) : 0) << v;
            EXPECT_EQ(c.empty, empty ? int64_t(n) : 0) << v;
        }
        EXPECT_EQ(inspect::allBytesAre(bytes.data(), bytes.size(), uint8_t(v)), true);
    }
    // A lane's count past 255, and a tail after the vectors.
    std::vector<uint8_t> many(64 * 300 + 7, 'a');
    many[5] = 0;
    many.back() = 255;
    const auto c = inspect::countClasses(many.data(), many.size());
    EXPECT_EQ(c.text, int64_t(many.size()) - 2);
    EXPECT_EQ(c.empty, 2);
    EXPECT_FALSE(inspect::allBytesAre(many.data(), many.size(), 'a'));
    std::vector<uint8_t> tail(20, 0);
    tail.back() = 1;
    EXPECT_FALSE(inspect::allBytesAre(tail.data(), tail.size(), 0));
}

TEST(HexFilter, CountingRules) {
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        Filter filter;
        bool passes;
    } cases[] = {
        {"21 text among other bytes", block(21, 491, 0, 0), Filter::Ascii, true},
        {"20 text, 20 other", block(20, 20, 472, 0), Filter::Ascii, false},
        {"20 text, 19 other", block(20, 19, 473, 0), Filter::Ascii, true},
        {"255 bytes are not other", block(20, 0, 0, 492), Filter::Ascii, true},
        {"201 text", block(201, 311, 0, 0), Filter::MoreAscii, true},
        {"200 text", block(200, 0, 312, 0), Filter::MoreAscii, false},
        {"all 0", block(0, 0, 512, 0), Filter::SkipBlank, false},
        {"all 255", block(0, 0, 0, 512), Filter::SkipBlank, false},
        {"0 and 255", block(0, 0, 511, 1), Filter::SkipBlank, true},
        {"one text byte", block(1, 0, 511, 0), Filter::SkipBlank, true},
        {"a short block of zeros", block(0, 0, 100, 0), Filter::SkipBlank, false},
        {"none", block(0, 0, 512, 0), Filter::None, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexview::passesFilter(c.bytes.data(), c.bytes.size(), c.filter), c.passes) << c.name;
}

TEST(HexSearch, TextAndDigits) {
    std::vector<uint8_t> b(512, 0);
    b[100] = 0x4D;
    b[101] = 0x5A;
    const struct {
        hexview::Search search;
        bool found;
    } cases[] = {
        {{"MZ", true, ""}, true},        {{"mz", true, ""}, false},
        {{"mZ", false, ""}, true},       {{"", false, "4D5A"}, true},
        {{"", false, "4d5a"}, true},     {{"", false, "D5"}, true},     // across two bytes
        {{"", false, "5A4D"}, false},    {{"MZ", true, "FFFF"}, false}, // digits decide
        {{"absent", false, "4D"}, true}, {{"", false, ""}, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hexview::matchesSearch(b.data(), b.size(), c.search), c.found)
            << c.search.ascii << "/" << c.search.hex;
}

TEST(HexPage, TextColumnAndAddresses) {
    const std::string row = "0123456789abcdef\x01~ 0123456789abcd";
    const auto* bytes = reinterpret_cast<const uint8_t*>(row.data());
    EXPECT_EQ(hexview::textColumn(bytes, 16), "01234567 89abcdef  ");
    EXPECT_EQ(hexview::textColumn(bytes, 32), "01234567 89abcdef  .~ 01234 56789abc  ");
    EXPECT_EQ(hexview::hexAddress(0x1200), "00001200");
    EXPECT_EQ(hexview::hexAddress(0x123456789A), "123456789A");
}

TEST(HexRefresh, AFullPageAtBothRowWidths) {
    fixtures::TempDir dir;
    const std::string file = dir.file("data.bin");
    fixtures::writePatternFile(file, 300 * 1024, 3);
    TestBackend backend;
    for (int width : {16, 32}) {
        SCOPED_TRACE(width);
        hexview::Viewer viewer(backend, fileSelection(file, 0x1000, 200 * 1024));
        viewer.setRowWidth(width);
        ScriptedUi ui;
        Recorder r;
        ASSERT_EQ(viewer.refresh(ui, ui, r), hexview::RefreshResult::Done);
        const hexview::Page& page = viewer.page();
        ASSERT_EQ(page.blockCount(), width * 8);
        EXPECT_EQ(page.filledRows(), hexview::kDataRows);
        const int last = hexview::kDataRows - 1;
        EXPECT_EQ(page.cellText(0, 0), "00001000");
        EXPECT_EQ(page.cellText(512 / width, 0), "00001200");
        EXPECT_EQ(page.cellText(last, 0), hexview::hexAddress(0x1000 + int64_t(width) * 4096 - width));
        EXPECT_EQ(page.cellText(last, width),
                  hexview::hexAddress(patternByte(0x1000 + width * 4096 - 1, 3)).substr(6));
        EXPECT_EQ(page.headerText(width), hexview::hexAddress(width - 1).substr(6));
        std::vector<uint8_t> row;
        for (int i = 0; i < width; ++i)
            row.push_back(patternByte(0x1000 + i, 3));
        EXPECT_EQ(page.cellText(0, width + 1), hexview::textColumn(row.data(), row.size()));
        EXPECT_FALSE(page.alternate(0));
        EXPECT_TRUE(page.alternate(512 / width));
        EXPECT_EQ(r.infos.back(), hexview::displayingText(width * 4096));
        EXPECT_EQ(r.infos.front(), "Reading");
        // Every 20 blocks, with the 4096-byte chunks read so far.
        EXPECT_EQ(r.reads.front(), "Read 4096 bytes (4kB)");
        EXPECT_EQ(r.reads[1], "Read 12288 bytes (12kB)");
        EXPECT_EQ(r.reads.back(), width == 16 ? "Read 65536 bytes (64kB)" : "Read 126976 bytes (124kB)");
        EXPECT_EQ(r.addresses.back(), "00001000");
    }
}

TEST(HexRefresh, FiltersAndSearchesShowTheTrueAddresses) {
    fixtures::TempDir dir;
    const std::string file = dir.file("sparse.bin");
    std::vector<uint8_t> bytes(8192, 0);
    bytes[0x600 + 10] = 0x4D; // block 3 holds "MZ"
    bytes[0x600 + 11] = 0x5A;
    bytes[0xA00 + 511] = 'M'; // blocks 5 and 6 hold it across their border
    bytes[0xC00] = 'Z';
    fixtures::writeFile(file, bytes);
    TestBackend backend;
    const auto shown = [&](Filter filter, hexview::Search search, hexview::Viewer::Kind kind) {
        hexview::Viewer viewer(backend, fileSelection(file, 0, 8192));
        viewer.setFilter(filter);
        viewer.setSearch(search);
        ScriptedUi ui;
        Recorder r;
        EXPECT_EQ(viewer.refresh(ui, ui, r, kind), hexview::RefreshResult::Done);
        std::vector<std::string> addresses;
        for (int b = 0; b < viewer.page().blockCount(); ++b)
            addresses.push_back(viewer.page().cellText(b * viewer.page().rowsPerBlock(), 0));
        return addresses;
    };
    using V = std::vector<std::string>;
    using K = hexview::Viewer::Kind;
    EXPECT_EQ(shown(Filter::SkipBlank, {}, K::Normal), (V{"00000600", "00000A00", "00000C00"}));
    EXPECT_EQ(shown(Filter::None, {"", false, "4D5A"}, K::Search), V{"00000600"});
    EXPECT_EQ(shown(Filter::None, {"", false, "D5"}, K::Search), V{"00000600"});
    EXPECT_EQ(shown(Filter::None, {"mz", false, ""}, K::Search), V{"00000600"}); // not across blocks
    EXPECT_EQ(shown(Filter::None, {"mz", false, ""}, K::Normal).size(), 16u);    // only Search searches
}

TEST(HexRefresh, ShortAndTinyData) {
    fixtures::TempDir dir;
    const std::string file = dir.file("short.bin");
    fixtures::writePatternFile(file, 3 * 512 + 100, 5); // ends inside the first chunk
    TestBackend backend;
    const struct {
        int64_t size;
        int blocks;
        std::vector<std::string> infos;
    } cases[] = {
        {4096,
         4,
         {"Reading", "Displaying 512 bytes (0kB)", "Displaying 1024 bytes (1kB)",
          "Displaying 1536 bytes (1kB)", "Displaying 2048 bytes (2kB)"}},
        {1636,
         3,
         {"Reading", "Displaying 512 bytes (0kB)", "Displaying 1024 bytes (1kB)",
          "Displaying 1536 bytes (1kB)"}},
        {511, 0, {"Reading"}}, // no block in the budget: nothing is read
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        hexview::Viewer viewer(backend, fileSelection(file, 0, c.size));
        viewer.setReadOnly(false);
        ScriptedUi ui;
        Recorder r;
        ASSERT_EQ(viewer.refresh(ui, ui, r), hexview::RefreshResult::Done);
        EXPECT_EQ(viewer.page().blockCount(), c.blocks);
        EXPECT_EQ(r.infos, c.infos);
        EXPECT_EQ(r.reads, c.size >= 512 ? std::vector<std::string>{"Read 1636 bytes (1kB)"}
                                         : std::vector<std::string>{});
    }
    // The last block shows the 100 bytes read; the cells beyond them stay empty and locked.
    hexview::Viewer viewer(backend, fileSelection(file, 0, 4096));
    viewer.setReadOnly(false);
    ScriptedUi ui;
    Recorder r;
    ASSERT_EQ(viewer.refresh(ui, ui, r), hexview::RefreshResult::Done);
    const hexview::Page& page = viewer.page();
    EXPECT_EQ(page.filledRows(), 3 * 32 + 7);
    const int row = 3 * 32 + 6; // bytes 1632 .. 1635
    EXPECT_EQ(page.cellText(row, 0), "00000660");
    EXPECT_EQ(page.cellText(row, 4), hexview::hexAddress(patternByte(1635, 5)).substr(6));
    EXPECT_EQ(page.cellText(row, 5), "");
    EXPECT_TRUE(viewer.editable(row, 4));
    EXPECT_FALSE(viewer.editable(row, 5));
    EXPECT_EQ(page.cellText(row + 1, 0), "");
    EXPECT_EQ(page.cellText(row, 17).size(), 4u);
}

TEST(HexRefresh, AReadErrorEndsThePageWhereTheChunkFailed) {
    fixtures::TempDir dir;
    const std::string file = dir.file("bad.bin");
    fixtures::writePatternFile(file, 1 << 20, 6);
    TestBackend backend;
    backend.fileFaults(file).readErrorAt = 3 * 4096 + 10; // in the fourth chunk
    hexview::Viewer viewer(backend, fileSelection(file, 0, 1 << 20));
    ScriptedUi ui;
    Recorder r;
    ASSERT_EQ(viewer.refresh(ui, ui, r), hexview::RefreshResult::Done);
    ASSERT_EQ(viewer.page().blockCount(), 24);
    EXPECT_EQ(viewer.page().cellText(23 * 32 + 31, 16),
              hexview::hexAddress(patternByte(3 * 4096 - 1, 6)).substr(6));
    ASSERT_EQ(r.statuses.size(), 1u);
    EXPECT_EQ(r.statuses[0].rfind("Failed to read " + file + " at byte 12288: ", 0), 0u) << r.statuses[0];
    EXPECT_EQ(backend.openStreams(), 0);
}

TEST(HexNavigation, ClampsAndJumps) {
    enum Action { Back, Forward, End, Start, Jump };
    constexpr int64_t MiB = 1 << 20;
    const struct {
        int64_t base, size, start;
        int width;
        Action action;
        int64_t distance;
        const char* text;
        int64_t expected;
    } cases[] = {
        {0, MiB, MiB - 16384 - 100, 16, Forward, 512, "", MiB - 16384}, // clamps at the end
        {0, MiB, 0xF0000, 32, Forward, 65536, "", MiB - 32768},         // with the 32-byte span
        {0, MiB, 0, 32, Forward, 65536, "", 65536},
        {4096, 8192, 4096, 16, Forward, 512, "", 4096}, // shorter than the span
        {4096, 8192, 4196, 16, Back, 512, "", 4096},    // not below the lower bound
        {0, MiB, 70000, 16, Back, 4096, "", 65904},     // keeps its remainder
        {512, MiB, 0, 16, End, 0, "", 512 + MiB - 16384},
        {512, 1000, 9999, 16, End, 0, "", 512},
        {777, MiB, 9999, 16, Start, 0, "", 777},
        {0, MiB, 0, 16, Jump, 0, "1234", 0x1200},
        {0, MiB, 0x5000, 16, Jump, 0, "zz", 0},
        {0, MiB, 0x5000, 16, Jump, 0, "", 0},
        {0, MiB, 0x5000, 16, Jump, 0, "$12", 0},
        {0, 512, 0, 16, Jump, 0, "10000001FF", 0x1000000000}, // not limited to the selection
    };
    TestBackend backend;
    for (const auto& c : cases) {
        TFileInfo sel = fileSelection("x", c.base, c.size);
        sel.Offset = c.start;
        hexview::Viewer v(backend, sel);
        v.setRowWidth(c.width);
        switch (c.action) {
        case Back:
            v.back(c.distance);
            break;
        case Forward:
            v.forward(c.distance);
            break;
        case End:
            v.toEnd();
            break;
        case Start:
            v.toStart();
            break;
        case Jump:
            v.jump(c.text);
            break;
        }
        EXPECT_EQ(v.viewStart(), c.expected) << c.base << " " << c.size << " " << c.start << " " << c.text;
    }
}

class HexEdit : public testing::Test {
protected:
    static constexpr int64_t kDisk = 64 * 1024;
    void SetUp() override {
        fixtures::writePatternFile(dir_.file("d0.img"), kDisk, 7);
        backend_.addDrive(VirtualDrive(dir_.file("d0.img")));
        // The write rewrites the aligned block around the byte, and nothing else.
        backend_.drive(0).writable = platform::ByteRange::of(0x200, 512);
        sel_ = fileSelection("\\\\.\\PHYSICALDRIVE0", 0, kDisk);
        sel_.Description = "PHYSICALDRIVE 0";
    }
    void TearDown() override {
        EXPECT_TRUE(backend_.violations().empty()) << backend_.violations().front();
        EXPECT_EQ(backend_.openStreams(), 0);
    }
    // Every byte but the ones given holds its pattern.
    void expectOnly(const std::map<int64_t, uint8_t>& changed) {
        const auto bytes = fixtures::readFile(dir_.file("d0.img"));
        ASSERT_EQ(int64_t(bytes.size()), kDisk);
        for (int64_t i = 0; i < kDisk; ++i) {
            const auto it = changed.find(i);
            ASSERT_EQ(bytes[size_t(i)], it == changed.end() ? patternByte(i, 7) : it->second) << "byte " << i;
        }
    }
    fixtures::TempDir dir_;
    TestBackend backend_;
    TFileInfo sel_;
};

TEST_F(HexEdit, TwoDigitsWriteTheByteBehindTheGateAskedOnce) {
    hexview::Viewer viewer(backend_, sel_);
    ScriptedUi ui;
    Recorder r;
    ASSERT_EQ(viewer.refresh(ui, ui, r), hexview::RefreshResult::Done);
    const int row = 0x230 / 16, column = 5; // byte 0x234
    const auto current = hexview::hexAddress(patternByte(0x234, 7)).substr(6);
    const uint8_t value = patternByte(0x234, 7) == 0xAB ? 0xAC : 0xAB;
    const std::string text = hexview::hexAddress(value).substr(6);

    EXPECT_EQ(viewer.edit(ui, ui, r, row, column, text), hexview::EditResult::Ignored); // read only
    viewer.setReadOnly(false);
    EXPECT_EQ(viewer.edit(ui, ui, r, row, column, text.substr(0, 1)), hexview::EditResult::Ignored);
    const size_t opens = backend_.opens().size();
    EXPECT_EQ(viewer.edit(ui, ui, r, row, column, current), hexview::EditResult::Unchanged);
    EXPECT_EQ(backend_.opens().size(), opens);
    EXPECT_TRUE(ui.gateTargets.empty());

    ui.gate = {false};
    EXPECT_EQ(viewer.edit(ui, ui, r, row, column, text), hexview::EditResult::Refused);
    ASSERT_EQ(ui.gateTargets.size(), 1u);
    EXPECT_EQ(ui.gateTargets[0].Offset, 0x234);
    EXPECT_EQ(ui.gateTargets[0].Size, 1);
    EXPECT_EQ(ui.gateTargets[0].FileName, sel_.FileName);
    expectOnly({});

    ui.gate = {true};
    // An edit that arrives while the write's own refresh runs is ignored.
    std::optional<hexview::EditResult> meanwhile;
    ui.onPump = [&] {
        if (viewer.writing() && !meanwhile) meanwhile = viewer.edit(ui, ui, r, row, column + 1, "00");
    };
    EXPECT_EQ(viewer.edit(ui, ui, r, row, column, text), hexview::EditResult::Written);
    EXPECT_EQ(meanwhile, hexview::EditResult::Ignored);
    EXPECT_EQ(ui.gateTargets.size(), 2u); // asked again after the refusal
    expectOnly({{0x234, value}});
    EXPECT_EQ(viewer.page().cellText(row, column), text); // read back by the refresh

    ui.onPump = nullptr;
    const auto second = uint8_t(~patternByte(0x235, 7));
    std::string lower = hexview::hexAddress(second).substr(6);
    for (char& ch : lower)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_EQ(viewer.edit(ui, ui, r, row, column + 1, lower), hexview::EditResult::Written);
    EXPECT_EQ(ui.gateTargets.size(), 2u); // once agreed, not asked again in this viewer
    expectOnly({{0x234, value}, {0x235, second}});
    EXPECT_TRUE(ui.asked.empty());
}

TEST_F(HexEdit, FailuresWriteNothing) {
    const std::string file = dir_.file("f.bin");
    const struct {
        const char* name;
        std::function<void(platform::testkit::Faults&)> fault;
        const char* text;
        int64_t shrinkTo; // the file shrank after the refresh
        const char* message;
        bool unchanged; // a failed flush may leave the bytes written, but not reported as such
    } cases[] = {
        {"not hexadecimal",
         {},
         "G1",
         0,
         "\"G1\" is not a valid hexadecimal digit.\nA 2-digit valid hexadicemal number is needed.",
         true},
        {"shrank", {}, "AB", 0x300, "Failed to write value", true},
        {"write error", [](auto& f) { f.writeErrorAt = 0x300; }, "AB", 0, "Failed to write value", true},
        {"flush fails", [](auto& f) { f.failFlush = true; }, "AB", 0, "Failed to write value", false},
        {"in use", [](auto& f) { f.failOpenModes = {platform::OpenMode::ReadWrite}; }, "AB", 0,
         "Failed to open the file", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fixtures::writePatternFile(file, 4096, 1);
        backend_.fileFaults(file) = {};
        TFileInfo sel = fileSelection(file, 0, 4096);
        sel.Description = "the file";
        hexview::Viewer viewer(backend_, sel);
        viewer.setReadOnly(false);
        ScriptedUi ui;
        ui.gate = {true};
        Recorder r;
        ASSERT_EQ(viewer.refresh(ui, ui, r), hexview::RefreshResult::Done);
        if (c.fault) c.fault(backend_.fileFaults(file));
        if (c.shrinkTo) std::filesystem::resize_file(file, uintmax_t(c.shrinkTo));
        const auto before = fixtures::readFile(file);
        const int row = 0x350 / 16, column = 2; // byte 0x351
        const auto result = viewer.edit(ui, ui, r, row, column, c.text);
        EXPECT_NE(result, hexview::EditResult::Written);
        EXPECT_EQ(ui.texts(), std::vector<std::string>{c.message});
        if (c.unchanged) {
            EXPECT_EQ(fixtures::readFile(file), before);
        }
    }
}

// A real block device: the byte lands there and nowhere else; with a file system mounted on it
// the exclusive open fails and nothing is written.
TEST(HexEditDevice, LoopDeviceAndMountedFileSystem) {
    fixtures::TempDir dir;
    const std::string image = dir.file("disk.img");
    fixtures::writePatternFile(image, 1 << 20, 4);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    platform::Backend& system = platform::systemBackend();
    TFileInfo sel = selection::fromFile(system, TFileInfo{}, loop.node());
    hexview::Viewer viewer(system, sel);
    viewer.setReadOnly(false);
    viewer.jump("1000");
    ScriptedUi ui;
    ui.gate = {true};
    Recorder r;
    ASSERT_EQ(viewer.refresh(ui, ui, r), hexview::RefreshResult::Done);
    const uint8_t value = uint8_t(~patternByte(0x1001, 4));
    ASSERT_EQ(viewer.edit(ui, ui, r, 0, 2, hexview::hexAddress(value).substr(6)),
              hexview::EditResult::Written);
    const auto bytes = fixtures::readFile(image);
    for (int64_t i = 0; i < 1 << 20; ++i)
        ASSERT_EQ(bytes[size_t(i)], i == 0x1001 ? value : patternByte(i, 4)) << "byte " << i;

    const std::string fsImage = dir.file("fs.img");
    fixtures::writePatternFile(fsImage, 8 << 20, 2);
    if (fixtures::shell("mkfs.ext4 -q -F '" + fsImage + "' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mkfs.ext4 is not available";
    fixtures::LoopDevice fsLoop(fsImage);
    ASSERT_TRUE(fsLoop.available());
    fixtures::Mount mount(fsLoop.node(), dir.file("mnt"));
    if (!mount.mounted()) GTEST_SKIP() << "ext4 does not mount here";
    hexview::Viewer mounted(system, selection::fromFile(system, TFileInfo{}, fsLoop.node()));
    mounted.setReadOnly(false);
    ScriptedUi ui2;
    ui2.gate = {true};
    ASSERT_EQ(mounted.refresh(ui2, ui2, r), hexview::RefreshResult::Done);
    const auto byte0 = mounted.page().byteAt(0, 1);
    ASSERT_TRUE(byte0);
    EXPECT_EQ(mounted.edit(ui2, ui2, r, 0, 1, *byte0 == 0x11 ? "22" : "11"), hexview::EditResult::Failed);
    EXPECT_EQ(ui2.texts(), std::vector<std::string>{"Failed to open " + mounted.file().Description});
    EXPECT_EQ(mounted.page().byteAt(0, 1), byte0);
}
