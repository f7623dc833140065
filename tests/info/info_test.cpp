// The reference texts against the program they describe, the administrator-rights decision,
// where the Help menu finds its documents, and the converter that writes the manual.

#include "discovery/demo_drive.h"
#include "discovery/partitions.h"
#include "info/documents.h"
#include "info/elevation.h"
#include "info/reference_texts.h"
#include "markdown.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> lines(std::string_view text) {
    std::vector<std::string> out;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

std::string hex2(unsigned v) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", v);
    return text;
}

struct TempFolder {
    TempFolder() {
        path = fs::temp_directory_path() / ("tarnwick-info-test-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    fs::path path;
};

std::array<uint8_t, 512> demoBootRecord() {
    TempFolder folder;
    const auto image = (folder.path / "demo.img").string();
    demo::writeDemoImage(image);
    std::array<uint8_t, 512> bytes{};
    std::ifstream in(image, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), bytes.size());
    return bytes;
}

bool isHex(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string_view::npos;
}

// "XX XX XX": the bytes of a column, two upper-case digits each, one blank apart.
std::optional<std::vector<uint8_t>> hexBytes(std::string_view column) {
    std::vector<uint8_t> out;
    std::istringstream in{std::string(column)};
    for (std::string b; in >> b;) {
        if (b.size() != 2 || !isHex(b)) return std::nullopt;
        out.push_back(uint8_t(std::stoul(b, nullptr, 16)));
    }
    return out;
}

// A dump row, in its columns: "0040    XX XX XX XX XX XX XX XX  XX XX XX XX XX XX XX XX  chars".
struct DumpRow {
    unsigned offset = 0;
    std::vector<uint8_t> bytes;
    std::string chars;
};
std::optional<DumpRow> dumpRow(const std::string& line) {
    if (line.size() != 74 || !isHex(line.substr(0, 4)) || line.substr(4, 4) != "    " ||
        line.substr(31, 2) != "  " || line.substr(56, 2) != "  ")
        return std::nullopt;
    const auto bytes = hexBytes(line.substr(8, 48));
    if (!bytes || bytes->size() != 16) return std::nullopt;
    return DumpRow{unsigned(std::stoul(line.substr(0, 4), nullptr, 16)), *bytes, line.substr(58)};
}

// A listing row: "0654  81 3E FE 7D 55 AA  CMP ...", the instruction in the column after the bytes.
struct ListingRow {
    unsigned address = 0;
    std::vector<uint8_t> bytes;
};
std::optional<ListingRow> listingRow(const std::string& line) {
    if (line.size() < 26 || line.rfind("06", 0) != 0 || !isHex(line.substr(0, 4)) ||
        line.substr(4, 2) != "  " || line.substr(23, 2) != "  " ||
        !std::isupper(static_cast<unsigned char>(line[25])))
        return std::nullopt;
    const auto bytes = hexBytes(line.substr(6, 17));
    if (!bytes || bytes->empty()) return std::nullopt;
    return ListingRow{unsigned(std::stoul(line.substr(0, 4), nullptr, 16)), *bytes};
}

} // namespace

// Every type the partition list names has an entry, and so do the types of today's disks.
TEST(ReferenceTexts, TypeListHasEveryTypeTheProgramNamesAndTodaysCommonOnes) {
    const auto list = lines(info::referenceText(info::ReferenceText::PartitionTypes));
    const auto listed = [&](unsigned type) {
        const std::string prefix = hex2(type) + "  ";
        for (const auto& line : list)
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    };
    std::vector<unsigned> wanted{0xEE, 0xEF, 0x8E, 0xFD, 0xA5, 0xA6, 0xA9,
                                 0x07, 0x27, 0x42, 0xAF, 0xBF, 0xE8, 0xDA};
    for (unsigned type = 0; type < 256; ++type)
        if (!PartitionTypeNames()[type].empty()) wanted.push_back(type);
    for (unsigned type : wanted)
        EXPECT_TRUE(listed(type)) << "no entry for type " << hex2(type);
}

// The memos wrap at their width and a tab has no fixed width: the monospaced texts keep their
// columns only without tabs and within the width the window shows.
TEST(ReferenceTexts, MonospacedTextsKeepTheirColumns) {
    for (auto which : {info::ReferenceText::PartitionTypes, info::ReferenceText::MasterBootRecord}) {
        const auto text = info::referenceText(which);
        EXPECT_GT(text.size(), 5000u);
        int number = 0;
        for (const auto& line : lines(text)) {
            ++number;
            EXPECT_EQ(line.find('\t'), std::string::npos) << "line " << number << ": " << line;
            EXPECT_LE(line.size(), 90u) << "line " << number << ": " << line;
        }
    }
    EXPECT_GT(info::referenceText(info::ReferenceText::PartitionTable).size(), 3000u);
}

// The dump and the listing in the master boot record tab are the bytes the demo drive really
// has, in their columns, so that a reader can compare them with the hex viewer and the
// disassembly.
TEST(ReferenceTexts, BootRecordDumpAndListingAreTheDemoDrivesBytes) {
    const auto mbr = demoBootRecord();
    int dumpRows = 0;
    unsigned next = 0; // the listing covers the code without gaps
    for (const auto& line : lines(info::referenceText(info::ReferenceText::MasterBootRecord))) {
        if (const auto row = dumpRow(line)) {
            ASSERT_EQ(row->offset, unsigned(dumpRows) * 16) << line;
            for (unsigned i = 0; i < 16; ++i) {
                const uint8_t v = mbr[row->offset + i];
                EXPECT_EQ(row->bytes[i], v) << "byte " << row->offset + i;
                EXPECT_EQ(row->chars[i], v >= 0x20 && v < 0x7F ? char(v) : '.')
                    << "character of byte " << row->offset + i;
            }
            ++dumpRows;
        } else if (const auto instruction = listingRow(line)) {
            const unsigned at = instruction->address - 0x600;
            EXPECT_EQ(at, next) << line;
            for (size_t i = 0; i < instruction->bytes.size(); ++i)
                EXPECT_EQ(instruction->bytes[i], mbr[at + i]) << line;
            next = at + unsigned(instruction->bytes.size());
        }
    }
    EXPECT_EQ(dumpRows, 32);
    EXPECT_EQ(next, 0x77u); // the messages follow the code
}

TEST(Elevation, DecisionFromTheFacts) {
    struct Case {
        bool root;
        const char* pkexec;
        bool declined;
        bool cannotAsk;
        info::ElevationChoice expected;
    };
    const Case cases[] = {
        {true, "/usr/bin/pkexec", false, false, info::ElevationChoice::None},
        {true, "", false, false, info::ElevationChoice::None},
        {false, "/usr/bin/pkexec", false, false, info::ElevationChoice::Offer},
        {false, "/usr/bin/pkexec", true, false, info::ElevationChoice::Hint},
        {false, "", false, false, info::ElevationChoice::Hint},
        {false, "/usr/bin/pkexec", false, true, info::ElevationChoice::Hint},
    };
    for (const auto& c : cases) {
        const info::ElevationFacts facts{c.root, c.pkexec, c.declined, c.cannotAsk};
        EXPECT_EQ(info::decideElevation(facts), c.expected)
            << "root " << c.root << ", pkexec '" << c.pkexec << "', declined " << c.declined
            << ", cannot ask " << c.cannotAsk;
    }
}

TEST(Elevation, HintIsToldOnceAndSaysHow) {
    info::DriveAccessHint hint(info::ElevationFacts{false, "/usr/bin/pkexec", true, false});
    const auto first = hint.take();
    ASSERT_TRUE(first);
    EXPECT_NE(first->find("not listed"), std::string::npos);
    EXPECT_NE(first->find("pkexec tarnwick"), std::string::npos);
    EXPECT_FALSE(hint.take());

    EXPECT_NE(info::driveAccessHint(info::ElevationFacts{false, "", false, false}).find("as root"),
              std::string::npos);
    EXPECT_FALSE(info::DriveAccessHint(info::ElevationFacts{true, "", false, false}).take());
}

TEST(Elevation, CommandKeepsTheDisplayOnlyWherePkexecWouldDropIt) {
    const std::vector<std::string> env{"HOME=/home/u", "DISPLAY=:1", "XAUTHORITY=/home/u/.Xauthority",
                                       "PATH=/bin"};
    EXPECT_EQ(
        info::elevatedCommand("/usr/bin/pkexec", "/usr/bin/tarnwick", {"--demo"}, "/usr/bin/tarnwick", env),
        (std::vector<std::string>{"/usr/bin/pkexec", "/usr/bin/tarnwick", "--demo"}));
    EXPECT_EQ(
        info::elevatedCommand("/usr/bin/pkexec", "/src/build/bin/tarnwick", {}, "/usr/bin/tarnwick", env),
        (std::vector<std::string>{"/usr/bin/pkexec", "/usr/bin/env", "DISPLAY=:1",
                                  "XAUTHORITY=/home/u/.Xauthority", "/src/build/bin/tarnwick"}));
}

TEST(Elevation, PkexecIsFoundOnTheSearchPathWhenExecutable) {
    TempFolder folder;
    const fs::path plain = folder.path / "plain", tools = folder.path / "tools";
    fs::create_directories(plain);
    fs::create_directories(tools);
    std::ofstream(plain / "pkexec") << "not executable";
    std::ofstream(tools / "pkexec") << "#!/bin/sh\n";
    fs::permissions(tools / "pkexec", fs::perms::owner_all);
    const std::string path = plain.string() + ":" + tools.string();
    EXPECT_EQ(info::findOnPath("pkexec", path), (tools / "pkexec").string());
    EXPECT_EQ(info::findOnPath("pkexec", plain.string()), "");
}

TEST(Elevation, PkexecIsTheSystemsNotTheOneOnTheUsersPath) {
    TempFolder folder;
    std::ofstream(folder.path / "pkexec") << "#!/bin/sh\n";
    fs::permissions(folder.path / "pkexec", fs::perms::owner_all);
    const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", folder.path.c_str(), 1);
    const std::string pkexec = info::currentElevationFacts(false).pkexec;
    ::setenv("PATH", saved.c_str(), 1);
    EXPECT_TRUE(pkexec.empty() || pkexec == "/usr/bin/pkexec" || pkexec == "/bin/pkexec") << pkexec;
}

// An end signal while the restarted program runs (or pkexec asks for the password) ends the wait:
// the program that was asked to end does not wait for another.
TEST(Elevation, WaitingForTheRestartEndsWhenTheProgramIsAskedToEnd) {
    std::thread signal([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        platform::requestInterrupt(); // what the end-signal handler does
    });
    const auto start = std::chrono::steady_clock::now();
    const auto status = info::runAndWait({"/bin/sh", "-c", "sleep 10"});
    const auto waited = std::chrono::steady_clock::now() - start;
    signal.join();
    platform::clearInterrupt();
    EXPECT_FALSE(status);
    EXPECT_LT(waited, std::chrono::seconds(5));
}

TEST(Elevation, PkexecsOwnFailuresMeanGoingOnUnprivileged) {
    EXPECT_TRUE(info::elevationRefused(126));
    EXPECT_TRUE(info::elevationRefused(127));
    EXPECT_TRUE(info::elevationRefused(std::nullopt));
    EXPECT_FALSE(info::elevationRefused(0));
    EXPECT_FALSE(info::elevationRefused(1));
    EXPECT_EQ(info::runAndWait({"/bin/sh", "-c", "exit 3"}), 3);
}

TEST(Documents, BesideTheProgramElseInTheDocumentationFolder) {
    TempFolder folder;
    const fs::path bin = folder.path / "usr" / "bin",
                   doc = folder.path / "usr" / "share" / "doc" / "tarnwick";
    fs::create_directories(bin);
    fs::create_directories(doc);
    // Nothing anywhere: the place beside the program (opening it then fails quietly).
    EXPECT_EQ(info::documentPath(bin.string(), "tarnwick.htm"), (bin / "tarnwick.htm").string());
    std::ofstream(doc / "tarnwick.htm") << "installed";
    EXPECT_EQ(info::documentPath(bin.string() + "/", "tarnwick.htm"), (doc / "tarnwick.htm").string());
    std::ofstream(bin / "tarnwick.htm") << "built";
    EXPECT_EQ(info::documentPath(bin.string(), "tarnwick.htm"), (bin / "tarnwick.htm").string());
}

TEST(Manual, MarkdownBecomesHtml) {
    struct Case {
        const char* markdown;
        const char* html; // must appear in the page
    };
    const Case cases[] = {
        {"# Dump to a *raw* image", "<h1 id=\"dump-to-a-raw-image\">Dump to a <em>raw</em> image</h1>"},
        {"Type `<i agree>` & Enter", "<p>Type <code>&lt;i agree&gt;</code> &amp; Enter</p>"},
        {"```\nif (a < b) x = \"&\";\n```", "<pre><code>if (a &lt; b) x = &quot;&amp;&quot;;\n</code></pre>"},
        {"See [volumes](https://en.wikipedia.org/wiki/Volume_(computing)).",
         "<a href=\"https://en.wikipedia.org/wiki/Volume_(computing)\">volumes</a>."},
        {"| Key | Action |\n|---|--:|\n| **F1** | a \\| b |",
         "<tr><td><strong>F1</strong></td><td style=\"text-align:right\">a | b</td></tr>"},
        {"- one\n  more\n  - inner\n- two",
         "<ul>\n<li>one more<ul>\n<li>inner</li>\n</ul>\n</li>\n<li>two</li>\n</ul>"},
        {"1. first\n2. second", "<ol>\n<li>first</li>\n<li>second</li>\n</ol>"},
        {"> **Warning** data goes", "<blockquote><p><strong>Warning</strong> data goes</p></blockquote>"},
        {"![The main window](screenshots/main.png)",
         "<img src=\"screenshots/main.png\" alt=\"The main window\">"},
        {"[TOC]\n## Start\n### Lists\n## End",
         "<nav class=\"toc\"><ul>\n<li><a href=\"#start\">Start</a><ul>\n<li><a "
         "href=\"#lists\">Lists</a></li>\n"
         "</ul></li>\n<li><a href=\"#end\">End</a></li>\n</ul></nav>"},
    };
    for (const auto& c : cases) {
        const std::string page = docs::markdownToHtml(c.markdown, {});
        EXPECT_NE(page.find(c.html), std::string::npos) << c.markdown << "\n---\n" << page;
    }
}
