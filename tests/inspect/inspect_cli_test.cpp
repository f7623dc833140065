// tarnwick-cli's hexdump and map, run in-process; the PNG is read back by Python's zlib.

#include "cli/command_line.h"
#include "discovery/demo_drive.h"
#include "inspect/commands.h"
#include "support/fixtures.h"
#include "support/scripted_ui.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <sstream>

using platform::testkit::TestBackend;
using Args = std::vector<std::string>;

namespace {

// The arguments as tarnwick-cli gets them, command first, parsed as it parses them.
cli::CommandLine line(const Args& args) {
    return cli::parseCommandLine(args);
}

// "x,y" points of a PNG as "width height red green blue" lines, checking signature, CRCs and
// filters on the way.
constexpr const char* kReadPng = R"(
import struct, sys, zlib
d = open(sys.argv[1], 'rb').read()
assert d[:8] == b'\x89PNG\r\n\x1a\n'
pos, idat = 8, b''
while pos < len(d):
    n, t = struct.unpack('>I4s', d[pos:pos + 8])
    body = d[pos + 8:pos + 8 + n]
    assert zlib.crc32(t + body) == struct.unpack('>I', d[pos + 8 + n:pos + 12 + n])[0]
    if t == b'IHDR': w, h, depth, kind = struct.unpack('>IIBB', body[:10])
    if t == b'IDAT': idat += body
    pos += 12 + n
assert (depth, kind) == (8, 2)
raw = zlib.decompress(idat)
assert len(raw) == h * (1 + 3 * w)
for point in sys.argv[2:]:
    x, y = map(int, point.split(','))
    row = raw[y * (1 + 3 * w):(y + 1) * (1 + 3 * w)]
    assert row[0] == 0
    print(w, h, *row[1 + 3 * x:4 + 3 * x])
)";

} // namespace

TEST(InspectCli, HexdumpPrintsThePageAndItsCounters) {
    fixtures::TempDir dir;
    const std::string file = dir.file("three.bin");
    std::vector<uint8_t> bytes(1536, 0);
    const std::string hello = "Hello, world! AB";
    std::copy(hello.begin(), hello.end(), bytes.begin() + 1024);
    bytes[0] = 0xEB;
    fixtures::writeFile(file, bytes);
    TestBackend backend;
    ScriptedUi ui;
    std::ostringstream out, err;
    ASSERT_EQ(
        inspect::hexdumpCommand(backend, line({"hexdump", file, "--filter", "blank"}), ui, ui, out, err), 0)
        << err.str();
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u + 64u + 2u); // header, blocks 0 and 2, the two counters
    EXPECT_EQ(lines[0], "          00 01 02 03 04 05 06 07  08 09 0A 0B 0C 0D 0E 0F");
    EXPECT_EQ(lines[1], "00000000  EB 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00  ........ ........");
    EXPECT_EQ(lines[33], "00000400  48 65 6C 6C 6F 2C 20 77  6F 72 6C 64 21 20 41 42  Hello, w orld! AB");
    EXPECT_EQ(lines[65], "Displaying 1024 bytes (1kB)");
    EXPECT_EQ(lines[66], "Read 1536 bytes (1kB)");

    std::ostringstream found;
    ASSERT_EQ(inspect::hexdumpCommand(backend, line({"hexdump", file, "--ascii", "WORLD", "--width", "32"}),
                                      ui, ui, found, err),
              0);
    EXPECT_NE(found.str().find("00000400  48 65"), std::string::npos);
    EXPECT_EQ(found.str().find("00000000"), std::string::npos);
    std::ostringstream none;
    ASSERT_EQ(inspect::hexdumpCommand(backend,
                                      line({"hexdump", file, "--ascii", "WORLD", "--case-sensitive"}), ui, ui,
                                      none, err),
              0);
    EXPECT_EQ(none.str(), "Reading\nRead 1536 bytes (1kB)\n");

    std::ostringstream failed;
    EXPECT_EQ(inspect::hexdumpCommand(backend, line({"hexdump", dir.file("missing")}), ui, ui, failed, err),
              1);
}

TEST(InspectCli, UsageErrors) {
    TestBackend backend;
    ScriptedUi ui;
    std::ostringstream out, err;
    const std::vector<Args> hexdump{
        {"hexdump"},
        {"hexdump", "a", "b"},
        {"hexdump", "a", "--filter", "text"},
        {"hexdump", "a", "--width", "24"},
        {"hexdump", "a", "--ascii", "x", "--hex", "41"},
        {"hexdump", "a", "--case-sensitive"},
        {"hexdump", "a", "--hex", "4G"},
        {"hexdump", "a", "--offset", "ten"},
        {"hexdump", "a", "--sectors-per-pixel", "2"},
    };
    for (const auto& args : hexdump)
        EXPECT_THROW(inspect::hexdumpCommand(backend, line(args), ui, ui, out, err), std::invalid_argument)
            << args.size() << " " << args.back();
    const std::vector<Args> map{
        {"map", "a"},
        {"map", "a", "b.png", "--sectors-per-pixel", "0"},
        {"map", "a", "b.png", "--sectors-per-pixel", "65537"},
        {"map", "a", "b.png", "--filter", "none"},
        {"map", "a", "b.png", "--replace=yes"},
    };
    for (const auto& args : map)
        EXPECT_THROW(inspect::mapCommand(backend, line(args), ui, ui, out, err), std::invalid_argument);
    EXPECT_TRUE(ui.asked.empty());
}

TEST(InspectCli, MapOfTheDemoDriveAsPng) {
#ifdef _WIN32
    GTEST_SKIP() << "the picture is decoded by python3, which a Windows test cannot run";
#endif
    fixtures::TempDir dir;
    const std::string image = dir.file("demo.img");
    demo::writeDemoImage(image);
    const std::string png = dir.file("demo.png");
    TestBackend backend;
    ScriptedUi ui;
    std::ostringstream out, err;
    ASSERT_EQ(inspect::mapCommand(backend, line({"map", image, png}), ui, ui, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), png + ": 1024 x 128 pixels, sectors per pixel 1, from byte 0\n");
    fixtures::writeFile(dir.file("read_png.py"),
                        std::vector<uint8_t>(kReadPng, kReadPng + std::strlen(kReadPng)));
    const auto point = [](int64_t sector) {
        return std::to_string(sector % 1024) + "," + std::to_string(sector / 1024);
    };
    std::string decoded;
    ASSERT_EQ(fixtures::shell("python3 " + dir.file("read_png.py") + " " + png + " " +
                                  point(demo::kTextStart + 50) + " " + point(demo::kBinaryStart + 50) + " " +
                                  point(demo::kEmptyTailStart + 50),
                              &decoded),
              0);
    std::istringstream values(decoded);
    int w = 0, h = 0, r[3] = {}, g[3] = {}, b[3] = {};
    for (int i = 0; i < 3; ++i)
        values >> w >> h >> r[i] >> g[i] >> b[i];
    EXPECT_EQ(w, 1024);
    EXPECT_EQ(h, 128);
    EXPECT_TRUE(r[0] > 200 && g[0] < 40 && b[0] == 0) << decoded;     // text: red
    EXPECT_TRUE(g[1] > 150 && g[1] > r[1] && g[1] > b[1]) << decoded; // binary: green
    EXPECT_TRUE(r[2] == 0 && g[2] == 0 && b[2] == 255) << decoded;    // empty: blue

    // An existing image is replaced only when that is agreed to.
    const auto before = fixtures::readFile(png);
    EXPECT_EQ(
        inspect::mapCommand(backend, line({"map", image, png, "--sectors-per-pixel", "2"}), ui, ui, out, err),
        1);
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].text, png + " already exists.\nDo you want to replace it?");
    EXPECT_EQ(fixtures::readFile(png), before);
    ASSERT_EQ(inspect::mapCommand(backend, line({"map", image, png, "--sectors-per-pixel", "2", "--replace"}),
                                  ui, ui, out, err),
              0);
    EXPECT_NE(fixtures::readFile(png), before);

    // Smaller than one row: no image at all.
    std::ostringstream tinyErr;
    EXPECT_EQ(inspect::mapCommand(backend, line({"map", image, dir.file("tiny.png"), "--size", "1000"}), ui,
                                  ui, out, tinyErr),
              1);
    EXPECT_NE(tinyErr.str().find("no rows"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir.file("tiny.png")));
}
