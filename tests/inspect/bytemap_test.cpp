// The byte map's engine: the colour rule, the geometry and readouts, and drawings of the demo
// drive and of files that end early, read through the block engine.

#include "core/selection.h"
#include "discovery/demo_drive.h"
#include "inspect/bytemap.h"
#include "platform/platform.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

using bytemap::Rgb;
using platform::testkit::TestBackend;
using platform::testkit::VirtualDrive;

namespace {

struct Canvas final : bytemap::Canvas {
    int resizes = 0, changes = 0;
    void resized() override { ++resizes; }
    void drawn(int, int) override {}
    void drawingChanged() override { ++changes; }
};

TFileInfo fileSelection(const std::string& path, int64_t offset, int64_t size) {
    TFileInfo t;
    t.FileName = t.Description = path;
    t.Offset = t.BaseOffset = offset;
    t.Size = t.BaseSize = size;
    return t;
}

// Sectors of every mix of text, empty and other bytes, no two neighbours alike, so a pixel drawn
// from the wrong bytes shows.
std::vector<uint8_t> mixedSectors(int64_t size) {
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        const uint32_t sector = uint32_t(&b - bytes.data()) / 512, pick = (x >> 16) % 512;
        const uint32_t text = sector * 37 % 512, empty = sector * 101 % 512;
        b = pick < text           ? uint8_t('a' + pick % 26)
            : pick < text + empty ? uint8_t(pick % 2 ? 255 : 0)
                                  : uint8_t(0x80 + pick % 64);
    }
    return bytes;
}

// Every drawn pixel is the colour of its own bytes; the rest stays white.
void expectPixelsOfTheirBytes(const bytemap::Map& map, const std::vector<uint8_t>& bytes, int64_t offset,
                              int s, int64_t drawn) {
    const int64_t pixel = bytemap::pixelBytes(s);
    for (int64_t p = 0; p < int64_t(map.image().height()) * 1024; ++p) {
        const Rgb want =
            p < drawn ? bytemap::pixelColour(bytes.data() + offset + p * pixel, s) : bytemap::kWhite;
        ASSERT_EQ(map.image().at(int(p % 1024), int(p / 1024)), want) << "pixel " << p;
    }
}

} // namespace

TEST(ByteMap, ColourRule) {
    const auto pixel = [](int s, std::initializer_list<std::pair<uint8_t, int>> parts) {
        std::vector<uint8_t> bytes;
        for (const auto& [value, count] : parts)
            bytes.insert(bytes.end(), size_t(count), value);
        EXPECT_EQ(int64_t(bytes.size()), bytemap::pixelBytes(s));
        return bytemap::pixelColour(bytes.data(), s);
    };
    EXPECT_EQ(pixel(1, {{0, 512}}), (Rgb{0, 0, 255})); // 511 / 2, not 256
    EXPECT_EQ(pixel(1, {{255, 512}}), (Rgb{0, 0, 255}));
    EXPECT_EQ(pixel(1, {{'a', 512}}), (Rgb{255, 0, 0}));
    EXPECT_EQ(pixel(1, {{0x80, 512}}), (Rgb{0, 255, 0}));
    EXPECT_EQ(pixel(2, {{'T', 512}, {0, 512}}), (Rgb{128, 0, 128}));
    EXPECT_EQ(pixel(1, {{'x', 100}, {1, 300}, {255, 112}}), (Rgb{50, 150, 56}));
    EXPECT_EQ(pixel(65536, {{0, 65536 * 512}}), (Rgb{0, 0, 255}));
    EXPECT_EQ(pixel(65536, {{'1', 65536 * 256}, {2, 65536 * 256}}), (Rgb{128, 128, 0}));
}

TEST(ByteMap, GeometryAndReadouts) {
    constexpr int64_t GiB = int64_t(1) << 30;
    EXPECT_EQ(bytemap::rowCount(2 * GiB, 1), 4096);
    EXPECT_EQ(bytemap::rowCount(8 * GiB, 1), 4096);
    EXPECT_EQ(bytemap::rowCount(512 * 1024 - 1, 1), 0);
    EXPECT_EQ(bytemap::rowCount(512 * 1024, 1), 1);
    EXPECT_EQ(bytemap::rowCount(32 * GiB - 1, 65536), 0);
    EXPECT_EQ(bytemap::forwardStep(16), 4 * GiB);
    const auto r = bytemap::readouts(bytemap::offsetFromText("1048576"), 2, 0, 1);
    EXPECT_EQ(r.sector, "00000802");
    EXPECT_EQ(r.absolute, "00100400");
    EXPECT_EQ(r.relative, "00000400");
    EXPECT_EQ(bytemap::readouts(0, 5, 3, 65536).relative, "180A000000"); // (3 x 1024 + 5) x 32 MiB
    EXPECT_EQ(bytemap::positionAt(bytemap::offsetFromText("no number"), 1, 1, 2), 1025 * 1024);
}

TEST(ByteMap, DemoDriveShowsTextBinaryAndEmpty) {
    fixtures::TempDir dir;
    const std::string image = dir.file("demo.img");
    demo::writeDemoImage(image);
    TestBackend backend;
    backend.addDrive(VirtualDrive(image));
    // 127 rows and 1000 bytes: the bytes past the rows are never read.
    const int64_t rows = 127 * 1024 * 512;
    backend.drive(0).faults.readErrorAt = rows;
    bytemap::Map map(backend, fileSelection("\\\\.\\PHYSICALDRIVE0", 0, rows + 1000));
    ScriptedUi ui;
    Canvas canvas;
    const auto report = map.draw(ui, ui, canvas, 1);
    EXPECT_TRUE(report.started);
    EXPECT_EQ(report.rows, 127);
    EXPECT_EQ(report.pixels, 127 * 1024);
    EXPECT_FALSE(report.stopped || report.dataEnded);
    const auto at = [&](int64_t sector) { return map.image().at(int(sector % 1024), int(sector / 1024)); };
    const Rgb text = at(demo::kTextStart + 100), binary = at(demo::kBinaryStart + 100),
              empty = at(demo::kEmptyTailStart + 100);
    EXPECT_GT(text.red, 200);
    EXPECT_LT(text.green, 40);
    EXPECT_GT(binary.green, 150);
    EXPECT_EQ(empty, (Rgb{0, 0, 255}));
    EXPECT_EQ(ui.progressBytes.back(), rows);
    EXPECT_EQ(canvas.changes, 2);
    EXPECT_FALSE(map.drawing());
    EXPECT_FALSE(map.drawEnabled());
    EXPECT_TRUE(map.forwardEnabled());
    EXPECT_EQ(backend.openStreams(), 0);
}

// Pixels are read 4 at a time: a read that comes back short draws none of its 4.
TEST(ByteMap, AShortReadEndsTheDrawingAtWholeGroups) {
    fixtures::TempDir dir;
    const std::string file = dir.file("sparse.img");
    TestBackend backend;
    const struct {
        int s;
        int64_t size, endsAt, pixels;
    } cases[] = {
        {1, 512 << 10, 2048 * 5 + 100, 20},
        {2, 1 << 20, 4096 * 3 + 4095, 12},
        // 4 pixels are 1200 KiB, read in blocks of 600 KiB: the second group's first block
        // arrives whole, its second does not, and none of the group is drawn.
        {600, int64_t(600) << 19, 1228800 + 614400 + 10, 4},
        {65536, int64_t(32) << 30, (int64_t(128) << 20) + 5, 4},
        {65536, int64_t(32) << 30, int64_t(10) << 20, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.s);
        std::filesystem::remove(file);
        fixtures::writeFile(file, {});
        std::filesystem::resize_file(file, uintmax_t(c.size)); // zeros, stored as a hole
        backend.fileFaults(file).endsAt = c.endsAt;
        bytemap::Map map(backend, fileSelection(file, 0, c.size));
        ScriptedUi ui;
        Canvas canvas;
        const auto report = map.draw(ui, ui, canvas, c.s);
        EXPECT_EQ(report.rows, 1);
        EXPECT_EQ(report.pixels, c.pixels);
        EXPECT_TRUE(report.dataEnded);
        if (c.pixels > 0) {
            EXPECT_EQ(map.image().at(int(c.pixels - 1), 0), (Rgb{0, 0, 255}));
        }
        EXPECT_EQ(map.image().at(int(c.pixels), 0), bytemap::kWhite);
    }
}

// The map reads large pieces on two threads and counts them as they arrive: what it draws is still
// each pixel's own bytes, from any offset, and a read that ends or fails anywhere in a large
// piece ends the drawing at the same group as a read of that group alone.
TEST(ByteMap, DrawsEachPixelFromItsOwnBytesWhereverTheDataEnds) {
    fixtures::TempDir dir;
    const std::string file = dir.file("mixed.img");
    const int64_t size = 24 << 19; // 24 rows at S = 1: several of the map's large reads
    const auto bytes = mixedSectors(size);
    fixtures::writeFile(file, bytes);
    const int64_t half = 2 << 20, large = 4 << 20;
    const struct {
        int s;
        int64_t offset;
        std::optional<int64_t> endsAt, errorAt;
        int64_t pixels;
    } cases[] = {
        {1, 0, {}, {}, 24 * 1024},
        {3, 1000, {}, {}, 7 * 1024},
        {8, 4096, {}, {}, 2 * 1024},
        {1, 0, half + 3000, {}, (half + 3000) / 2048 * 4},           // in a read's second half
        {1, 0, large + half - 1, {}, (large + half - 1) / 2048 * 4}, // at the end of a half
        {1, 0, {}, large + half + 5000, (large + half + 5000) / 2048 * 4},
        {1, 0, {}, 1 << 20, (1 << 20) / 2048 * 4}, // in the first half's second piece
        {3, 1000, {}, large + 100, (large + 100 - 1000) / 6144 * 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "S " << c.s << " ends " << c.endsAt.value_or(-1) << " fails "
                                        << c.errorAt.value_or(-1));
        TestBackend backend;
        backend.fileFaults(file).endsAt = c.endsAt;
        backend.fileFaults(file).readErrorAt = c.errorAt;
        bytemap::Map map(backend, fileSelection(file, c.offset, size - c.offset));
        ScriptedUi ui;
        Canvas canvas;
        const auto report = map.draw(ui, ui, canvas, c.s);
        EXPECT_EQ(report.pixels, c.pixels);
        EXPECT_EQ(report.dataEnded, c.endsAt || c.errorAt);
        expectPixelsOfTheirBytes(map, bytes, c.offset, c.s, report.pixels);
        EXPECT_EQ(backend.openStreams(), 0);
    }
}

// A loop device read past the cache, through two handles.
TEST(ByteMap, LoopDeviceDrawsEachPixelFromItsOwnBytes) {
    fixtures::TempDir dir;
    const std::string image = dir.file("disk.img");
    const auto bytes = mixedSectors(24 << 19);
    fixtures::writeFile(image, bytes);
    fixtures::LoopDevice loop(image);
    if (!loop.available()) GTEST_SKIP() << loop.reason();
    platform::Backend& system = platform::systemBackend();
    bytemap::Map map(system, selection::fromFile(system, TFileInfo{}, loop.node()));
    ScriptedUi ui;
    Canvas canvas;
    const auto report = map.draw(ui, ui, canvas, 1);
    EXPECT_EQ(report.pixels, 24 * 1024);
    expectPixelsOfTheirBytes(map, bytes, 0, 1, report.pixels);
}

TEST(ByteMap, StopForwardAndTheDoubleClickGuard) {
    fixtures::TempDir dir;
    const std::string file = dir.file("data.img");
    fixtures::writePatternFile(file, 8 << 20, 1);
    TestBackend backend;
    bytemap::Map map(backend, fileSelection(file, 0, 8 << 20));
    map.press("0", 3, 1, 1);
    ASSERT_TRUE(map.doubleClickTarget());
    EXPECT_EQ(map.doubleClickTarget()->Offset, 1027 * 512);
    ScriptedUi ui;
    Canvas canvas;
    int pumps = 0;
    bool guarded = true;
    ui.onPump = [&] {
        guarded = guarded && map.drawing() && !map.doubleClickTarget() && !map.forwardEnabled();
        if (++pumps == 40) ui.stop = true;
    };
    const auto report = map.draw(ui, ui, canvas, 1);
    EXPECT_TRUE(guarded);
    EXPECT_TRUE(report.stopped);
    EXPECT_GT(report.pixels, 0);
    EXPECT_LT(report.pixels, 16 * 1024);
    EXPECT_EQ(map.image().at(int(report.pixels % 1024), int(report.pixels / 1024)), bytemap::kWhite);
    EXPECT_TRUE(map.doubleClickTarget());

    ui.onPump = nullptr;
    const auto forward = map.forward(ui, ui, canvas, 16);
    EXPECT_EQ(map.startOffset(), int64_t(4) << 30);
    EXPECT_EQ(forward.rows, 1);
    EXPECT_EQ(forward.pixels, 0); // nothing there
    EXPECT_TRUE(forward.dataEnded);
    EXPECT_FALSE(map.drawEnabled());
}

TEST(ByteMap, PngOfTheImage) {
    bytemap::Image image;
    image.reset(3);
    image.set(1, 2, Rgb{1, 2, 3});
    const auto png = bytemap::encodePng(image);
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ((std::vector<uint8_t>(png.begin() + 16, png.begin() + 26)),
              (std::vector<uint8_t>{0, 0, 4, 0, 0, 0, 0, 3, 8, 2}));
    image.reset(0);
    EXPECT_TRUE(bytemap::encodePng(image).empty());
    TestBackend backend;
    fixtures::TempDir dir;
    EXPECT_TRUE(bytemap::savePng(backend, image, dir.file("none.png")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.png")));
}
