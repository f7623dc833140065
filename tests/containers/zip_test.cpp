// The zip writer against unzip, 7z and python3's zipfile: new archives, archives appended to
// (ours and foreign ones with extra fields, comments and trailing comments), refused entries,
// the 32-bit limits, and faults on the archive file.

#include "checkers.h"
#include "containers/mini_zip.h"
#include "support/fixtures.h"
#include "support/test_backend.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

using containers::TMiniZip;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

uint32_t get32(const Bytes& v, size_t at) {
    return uint32_t(v.at(at) | v.at(at + 1) << 8 | v.at(at + 2) << 16) | uint32_t(v.at(at + 3)) << 24;
}

Bytes slice(const Bytes& v, size_t offset, size_t size) {
    return {v.begin() + long(offset), v.begin() + long(offset + size)};
}

// Local time as UTC while `on`, so that the archive's times do not depend on the machine's zone.
void localTimeIsUtc(bool on) {
#ifdef _WIN32
    _putenv_s("TZ", on ? "UTC0" : "");
    _tzset();
#else
    if (on)
        setenv("TZ", "UTC", 1);
    else
        unsetenv("TZ");
    tzset();
#endif
}

class ZipTest : public testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32 // on Windows only the kit's own reader judges (checkers.h)
        for (const char* tool : {"unzip", "7z", "python3"})
            if (const auto why = checkers::missing(tool); !why.empty()) GTEST_SKIP() << why;
#endif
        fixtures::writePatternFile(source_, 1 << 20, 5);
        bytes_ = fixtures::readFile(source_);
    }
    void TearDown() override {
        EXPECT_EQ(backend_.openStreams(), 0) << "every handle is closed";
    }

    // unzip, 7z and python accept the archive; python's listing ("name<TAB>size" lines) and
    // copies of the entries, in order.
    std::vector<Bytes> accepted(const std::string& archive, std::string* listing = nullptr) {
#ifndef _WIN32
        for (const auto& v : {checkers::unzipTest(archive), checkers::sevenZipTest(archive)})
            EXPECT_EQ(v.status, 0) << v.output;
#endif
        fs::remove_all(dir_.file("x"));
        fs::create_directory(dir_.file("x"));
        const auto p = checkers::extractEntries(archive, dir_.file("x"));
        EXPECT_EQ(p.status, 0) << p.output;
        if (listing) *listing = p.output;
        std::vector<Bytes> entries;
        for (int i = 0; fs::exists(dir_.file("x/" + std::to_string(i))); ++i)
            entries.push_back(fixtures::readFile(dir_.file("x/" + std::to_string(i))));
        return entries;
    }

    fixtures::TempDir dir_;
    platform::testkit::TestBackend backend_;
    const std::string source_ = dir_.file("source.bin");
    Bytes bytes_;
};

} // namespace

// A new archive byte for byte against its golden file (time from the source, names with their
// backslashes and leading slash, an empty entry); TARNWICK_REGENERATE_GOLDEN=1 writes it anew.
// Then a range that is no multiple of 64 KiB appended: the old bytes stay, the new entry starts
// where the old directory began, and every tool extracts exactly each range.
TEST_F(ZipTest, NewArchiveMatchesItsGoldenFileAndTakesAnAppendedRange) {
    localTimeIsUtc(true);
    const std::string digits = dir_.file("digits"), archive = dir_.file("golden.zip");
    fixtures::writeFile(digits, {'1', '2', '3', '4', '5', '6', '7', '8', '9'});
    fs::last_write_time(digits, std::chrono::file_clock::from_sys(std::chrono::sys_seconds{
                                    std::chrono::sys_days{std::chrono::January / 1 / 2000}}));
    {
        TMiniZip zip(backend_);
        ASSERT_TRUE(zip.OpenArchive(archive, true));
        EXPECT_TRUE(zip.AddEntry(digits, "EMPTY", 0, 0));
        EXPECT_TRUE(zip.AddEntry(digits, "\\DRIVE_0\\P1", 0, 9));
    }
    localTimeIsUtc(false);
    const std::string golden = std::string(TARNWICK_GOLDEN_DIR) + "/zip_two_entries.zip";
    if (std::getenv("TARNWICK_REGENERATE_GOLDEN"))
        fs::copy_file(archive, golden, fs::copy_options::overwrite_existing);
    const Bytes before = fixtures::readFile(archive);
    EXPECT_EQ(before, fixtures::readFile(golden)) << golden;

    const uint32_t oldDirectory = get32(before, before.size() - 6);
    {
        TMiniZip zip(backend_);
        ASSERT_TRUE(zip.OpenArchive(archive, false));
        ASSERT_TRUE(zip.AddEntry(source_, "range", 1000, 200000));
    }
    const Bytes after = fixtures::readFile(archive);
    EXPECT_EQ(slice(after, 0, oldDirectory), slice(before, 0, oldDirectory));
    EXPECT_EQ(get32(after, oldDirectory), 0x04034B50u);
    std::string listing;
    EXPECT_EQ(accepted(archive, &listing),
              (std::vector<Bytes>{{}, fixtures::readFile(digits), slice(bytes_, 1000, 200000)}));
    EXPECT_EQ(listing, "EMPTY\t0\nDRIVE_0/P1\t9\nrange\t200000\n");
}

// Archives made elsewhere, with extra fields, entry comments and a trailing comment: their
// directory entries are taken over byte for byte and the comment follows the new end record.
// A comment of 422 bytes puts the end record out of reach: the file is not appended to.
TEST_F(ZipTest, AppendingToForeignArchivesKeepsTheirDirectoryAndComment) {
#ifdef _WIN32
    GTEST_SKIP() << "the foreign archives are made by python3, which a Windows test cannot run";
#endif
    for (const int comment : {0, 421, 422}) {
        const std::string archive = dir_.file("foreign" + std::to_string(comment) + ".zip");
        ASSERT_EQ(fixtures::shell("python3 -c '\n"
                                  "import sys, zipfile\n"
                                  "z = zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED)\n"
                                  "i = zipfile.ZipInfo(\"old/one.txt\", (2001, 2, 3, 4, 5, 6))\n"
                                  "i.extra = b\"\\xfe\\xca\\x04\\x00abcd\"\n"
                                  "i.comment = b\"first entry comment\"\n"
                                  "z.writestr(i, b\"hello \" * 100)\n"
                                  "z.comment = b\"C\" * int(sys.argv[2])\n"
                                  "z.close()\n' '" +
                                  archive + "' " + std::to_string(comment)),
                  0);
        const Bytes before = fixtures::readFile(archive);
        const size_t end = before.size() - size_t(comment) - 22;
        const uint32_t directory = get32(before, end + 16);
        TMiniZip zip(backend_);
        if (comment == 422) {
            EXPECT_FALSE(zip.OpenArchive(archive, false));
            EXPECT_FALSE(zip.AddEntry(source_, "new", 0, 1000));
            EXPECT_EQ(zip.ErrorText(), "Cannot append to " + archive +
                                           ": it is not a zip archive (no end record in its last 443 bytes)");
            EXPECT_TRUE(zip.CloseArchive());
            EXPECT_EQ(fixtures::readFile(archive), before) << "left as it was";
            continue;
        }
        ASSERT_TRUE(zip.OpenArchive(archive, false)) << comment;
        ASSERT_TRUE(zip.AddEntry(source_, "new", 0, 1000));
        ASSERT_TRUE(zip.CloseArchive());
        const Bytes after = fixtures::readFile(archive);
        const size_t newEnd = after.size() - size_t(comment) - 22;
        EXPECT_EQ(slice(after, newEnd, 4), (Bytes{0x50, 0x4B, 0x05, 0x06}));
        EXPECT_EQ(slice(after, newEnd + 20, 2 + size_t(comment)),
                  slice(before, end + 20, 2 + size_t(comment)));
        EXPECT_EQ(slice(after, get32(after, newEnd + 16), end - directory),
                  slice(before, directory, end - directory));
        const auto entries = accepted(archive);
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[1], slice(bytes_, 0, 1000));
    }
}

// Every codec, the parallel ones with more threads than cores so that pieces finish out of order:
// an empty entry, a one-byte one, one of zeros, text and noise over many pieces that ends inside a
// piece, and noise that does not compress. Each tool reads every entry back; the directory and the
// local header carry its CRC-32 and sizes, and the data stays within deflatedBound.
TEST_F(ZipTest, EveryCodecWritesEntriesEveryToolReads) {
    const int64_t mib = 1 << 20;
    std::mt19937 rng(7);
    Bytes noise(size_t(2 * mib + 1)), mixed(size_t(mib), 0);
    for (auto& b : noise)
        b = uint8_t(rng());
    for (int64_t i = 0; i < 2 * mib; ++i)
        mixed.push_back(uint8_t("the quick brown fox jumps over the lazy dog\n"[i % 44] + i / 4096 % 3));
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), bytes_.begin(), bytes_.begin() + 12345);
    const std::vector<std::pair<std::string, Bytes>> entries{
        {"empty", {}}, {"one", {'x'}}, {"mixed", mixed}, {"noise", noise}};
    for (const auto& [name, data] : entries)
        fixtures::writeFile(dir_.file(name), data);

    for (const auto codec : {containers::Codec::Zlib, containers::Codec::ZlibParallel,
                             containers::Codec::Isal, containers::Codec::IsalParallel}) {
        if (!containers::codecAvailable(codec)) continue;
        SCOPED_TRACE(containers::codecName(codec));
        const std::string archive = dir_.file(std::string(containers::codecName(codec)) + ".zip");
        {
            TMiniZip zip(backend_);
            zip.codec = codec;
            zip.threads = 3;
            ASSERT_TRUE(zip.OpenArchive(archive, true));
            for (const auto& [name, data] : entries)
                ASSERT_TRUE(zip.AddEntry(dir_.file(name), name, 0, int64_t(data.size()))) << zip.ErrorText();
            ASSERT_TRUE(zip.CloseArchive());
        }
        std::vector<Bytes> expected;
        for (const auto& [name, data] : entries)
            expected.push_back(data);
        EXPECT_EQ(accepted(archive), expected);

        const Bytes bytes = fixtures::readFile(archive);
        size_t at = get32(bytes, bytes.size() - 6);
        for (const auto& [name, data] : entries) {
            ASSERT_EQ(get32(bytes, at), 0x02014B50u);
            const uint32_t crc = uint32_t(crc32(0, data.data(), uInt(data.size())));
            const uint32_t packed = get32(bytes, at + 20);
            EXPECT_EQ(get32(bytes, at + 16), crc) << name;
            EXPECT_EQ(get32(bytes, at + 24), data.size()) << name;
            EXPECT_LE(packed, containers::deflatedBound(int64_t(data.size()))) << name;
            const size_t local = get32(bytes, at + 42);
            EXPECT_EQ(slice(bytes, local + 14, 12), slice(bytes, at + 16, 12)) << name << ": local header";
            // The data runs exactly up to the next entry's local header, or the directory.
            const size_t next = local + 30 + name.size() + packed;
            EXPECT_TRUE(get32(bytes, next) == 0x04034B50u || get32(bytes, next) == 0x02014B50u) << name;
            at += 46 + name.size();
        }
    }
}

// What the writer takes (sizes 0 to 2147483647, offsets past 2 GiB, duplicate names) every tool
// reads; what it refuses is not written at all.
TEST_F(ZipTest, EntriesTakenAndRefused) {
    const std::string shortFile = dir_.file("short"), sparse = dir_.file("sparse"),
                      archive = dir_.file("n.zip");
    fixtures::writeFile(shortFile, Bytes(1000, 'z'));
    const int64_t far = (int64_t(1) << 31) + 12345;
    fixtures::writeFile(sparse, {});
    fs::resize_file(sparse, uintmax_t(far)); // a hole: nothing is really written
    std::ofstream(platform::pathFromUtf8(sparse), std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(bytes_.data()), 5000);
    struct Case {
        std::string name, source;
        int64_t offset, count, stored; // stored -1: refused
    };
    const std::vector<Case> cases{
        {"dup", source_, 7, 7, 7},
        {"dup", source_, 0, 65536 * 3, 65536 * 3},
        {"far", sparse, far, 5000, 5000},
        {"huge", shortFile, 0, 2147483647, 1000}, // accepted: the source ends first
        {"", source_, 0, 10, -1},
        {"/", source_, 0, 10, -1},
        {"toolarge", source_, 0, 2147483648, -1},
        {"negative", source_, -1, 10, -1},
        {"missing", dir_.file("nothing here"), 0, 10, -1},
    };
    std::string expected;
    {
        TMiniZip zip(backend_);
        ASSERT_TRUE(zip.OpenArchive(archive, true));
        for (const auto& c : cases) {
            const size_t entries = zip.Entries().size();
            EXPECT_EQ(zip.AddEntry(c.source, c.name, c.offset, c.count), c.stored == c.count) << c.name;
            EXPECT_EQ(zip.ErrorText().empty(), c.stored >= 0) << c.name << ": " << zip.ErrorText();
            if (c.stored < 0)
                EXPECT_EQ(zip.Entries().size(), entries) << c.name << ": nothing added";
            else
                expected += c.name + "\t" + std::to_string(c.stored) + "\n";
        }
        ASSERT_TRUE(zip.CloseArchive());
    } // the archive is let go: on Windows no one else may read it before
    std::string listing;
    const auto entries = accepted(archive, &listing);
    EXPECT_EQ(listing, expected);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], slice(bytes_, 7, 7));
    EXPECT_EQ(entries[2], slice(bytes_, 0, 5000));
    EXPECT_EQ(entries[3], Bytes(1000, 'z'));
}

// The 16- and 32-bit fields: an entry that could carry the archive past 4 GiB, a 65536th entry,
// a directory count the file cannot hold and an entry whose name runs into the end record are
// refused, and the archive is left as it was.
TEST_F(ZipTest, ArchivesAtTheirLimitsAreLeftAsTheyWere) {
    const std::string file = dir_.file("limit.zip");
    // `count` directory entries of one-letter names at `directory`, the last one's name said to
    // be `overrun` bytes longer, and an end record that says there are `declared`.
    const auto craft = [&](int64_t directory, int count, int declared, int overrun) {
        Bytes entry(47, 0), tail;
        entry[0] = 0x50, entry[1] = 0x4B, entry[2] = 0x01, entry[3] = 0x02, entry[28] = 1, entry[46] = 'a';
        for (int i = 0; i < count; ++i)
            tail.insert(tail.end(), entry.begin(), entry.end());
        if (count > 0) tail[tail.size() - 47 + 28] = uint8_t(1 + overrun);
        const auto size = uint32_t(tail.size());
        const auto offset = uint32_t(directory);
        tail.insert(tail.end(), {0x50,
                                 0x4B,
                                 0x05,
                                 0x06,
                                 0,
                                 0,
                                 0,
                                 0,
                                 uint8_t(declared),
                                 uint8_t(declared >> 8),
                                 uint8_t(declared),
                                 uint8_t(declared >> 8),
                                 uint8_t(size),
                                 uint8_t(size >> 8),
                                 uint8_t(size >> 16),
                                 0,
                                 uint8_t(offset),
                                 uint8_t(offset >> 8),
                                 uint8_t(offset >> 16),
                                 uint8_t(offset >> 24),
                                 0,
                                 0});
        fixtures::writeFile(file, {});
        fs::resize_file(file, uintmax_t(directory));
        std::FILE* f = std::fopen(file.c_str(), "ab");
        std::fwrite(tail.data(), 1, tail.size(), f);
        std::fclose(f);
    };
    struct Case {
        int64_t directory;
        int count, declared;
        std::string message;
        int overrun = 0;
    };
    const std::vector<Case> cases{
        {4294000000, 0, 0,
         "Adding 1048576 bytes could make " + file +
             " larger than 4 GiB, the most a zip archive can hold. Nothing "
             "was added."},
        {0, 65535, 65535,
         file + " already holds 65535 entries, the most a zip archive can hold. Nothing was added."},
        {0, 2, 65000, "Cannot append to " + file + ": it is not a zip archive"},
        // The last entry's name runs on through the end record.
        {0, 2, 2, "Cannot append to " + file + ": it is not a zip archive", 22},
    };
    for (const auto& c : cases) {
        craft(c.directory, c.count, c.declared, c.overrun);
        {
            TMiniZip zip(backend_);
            EXPECT_EQ(zip.OpenArchive(file, false), c.declared == c.count && c.overrun == 0);
            EXPECT_FALSE(zip.AddEntry(source_, "more", 0, 1 << 20));
            EXPECT_EQ(zip.ErrorText(), c.message);
        }
        EXPECT_EQ(fs::file_size(file), uintmax_t(c.directory + c.count * 47 + 22));
    }
}

// Faults on the archive file: a failed entry leaves an appended archive byte for byte as it was
// and makes no new one; a failed flush is a failed close; a second close writes the same bytes.
TEST_F(ZipTest, FaultsOnTheArchiveLeaveItAsItWas) {
    const std::string archive = dir_.file("f.zip"), fresh = dir_.file("fresh.zip"),
                      noise = dir_.file("noise");
    {
        std::mt19937 rng(11);
        Bytes random(1 << 20);
        for (auto& b : random)
            b = uint8_t(rng());
        fixtures::writeFile(noise, random);
    }
    {
        TMiniZip zip(backend_);
        ASSERT_TRUE(zip.OpenArchive(archive, true));
        ASSERT_TRUE(zip.AddEntry(source_, "kept", 0, 3000));
        ASSERT_TRUE(zip.CloseArchive());
#ifndef _WIN32 // the archive cannot be read on Windows while the zip holds it
        const Bytes once = fixtures::readFile(archive);
#endif
        ASSERT_TRUE(zip.CloseArchive());
#ifndef _WIN32
        EXPECT_EQ(fixtures::readFile(archive), once);
#endif
    }
    const Bytes before = fixtures::readFile(archive);
    // One directory, once, then the end record: a second close wrote nothing more.
    ASSERT_GE(before.size(), 22u);
    EXPECT_EQ(get32(before, before.size() - 6) + get32(before, before.size() - 10) + 22, before.size());
    for (const bool full : {true, false}) {
        backend_.fileFaults(archive) = {};
        if (full)
            backend_.fileFaults(archive).shortWriteAt = int64_t(before.size()) + 5000;
        else
            backend_.fileFaults(archive).writeErrorAt = int64_t(before.size()) + 300000;
        {
            TMiniZip zip(backend_);
            ASSERT_TRUE(zip.OpenArchive(archive, false));
            EXPECT_FALSE(zip.AddEntry(noise, "lost", 0, 1 << 20));
            EXPECT_EQ(zip.ErrorText(), "Failed to write to " + archive + ", " +
                                           (full ? "No space left on device" : "Input/output error"));
            EXPECT_TRUE(zip.CloseArchive());
        }
        EXPECT_EQ(fixtures::readFile(archive), before) << (full ? "full" : "broken");
    }
    backend_.fileFaults(fresh).writeErrorAt = 100;
    {
        TMiniZip zip(backend_);
        ASSERT_TRUE(zip.OpenArchive(fresh, true));
        EXPECT_FALSE(zip.AddEntry(noise, "lost", 0, 1 << 20));
    }
    EXPECT_FALSE(fs::exists(fresh)) << "an archive without entries is not kept";
    backend_.fileFaults(fresh) = {};
    backend_.fileFaults(fresh).failFlush = true;
    TMiniZip zip(backend_);
    ASSERT_TRUE(zip.OpenArchive(fresh, true));
    ASSERT_TRUE(zip.AddEntry(source_, "x", 0, 10));
    EXPECT_FALSE(zip.CloseArchive());
    EXPECT_EQ(zip.ErrorText(), "Failed to write to " + fresh + ", Input/output error");
    EXPECT_FALSE(fs::exists(fresh)) << "an archive that did not reach the disk takes no name";
}

// The progress handler's Abort ends the entry where it stands, and the entry records the bytes
// it holds, so the archive stays valid. An abort during the start report counts for nothing. A stop
// after many pieces of the parallel codecs, inside a piece, keeps every byte counted before it.
TEST_F(ZipTest, AbortedEntryRecordsWhatItHolds) {
    const std::string big = dir_.file("big");
    fixtures::writePatternFile(big, 6 << 20, 5);
    struct Case {
        std::string source;
        int64_t size;
        size_t abortAt; // the report that asks to stop
    };
    for (const Case& c : {Case{source_, 1 << 20, 4}, Case{big, 6 << 20, 42}}) {
        const std::string archive = dir_.file("abort" + std::to_string(c.abortAt) + ".zip");
        const int64_t held = int64_t(c.abortAt - 1) * 65536;
        {
            TMiniZip zip(backend_);
            std::vector<int64_t> reports;
            zip.OnProgress = [&](TMiniZip&, containers::PrgsType type, const std::string& name, int64_t bytes,
                                 bool& abort) {
                EXPECT_EQ(type, containers::ptZipStart);
                EXPECT_EQ(name, c.source);
                reports.push_back(bytes);
                abort = reports.size() == 1 || reports.size() == c.abortAt;
            };
            ASSERT_TRUE(zip.OpenArchive(archive, true));
            EXPECT_FALSE(zip.AddEntry(c.source, "part", 0, c.size));
            EXPECT_TRUE(zip.LastEntryAborted());
            std::vector<int64_t> expected{c.size};
            for (int64_t n = 65536; n <= held; n += 65536)
                expected.push_back(n);
            EXPECT_EQ(reports, expected);
            EXPECT_EQ(zip.LastEntryBytes(), held);
            ASSERT_TRUE(zip.CloseArchive());
        }
        EXPECT_EQ(accepted(archive),
                  std::vector<Bytes>{slice(fixtures::readFile(c.source), 0, size_t(held))});
    }
}

// A name beyond ASCII carries the UTF-8 flag (bit 11) in its local header and its directory entry,
// so every tool reads it back as it was given; an ASCII name, and one whose bytes are not UTF-8
// (overlong, a surrogate, a lone Latin-1 byte), keeps flags 0.
TEST_F(ZipTest, NamesBeyondAsciiAreMarkedUtf8) {
    struct Case {
        std::string name;
        uint16_t flags;
    };
    const std::string donnees = "donn\u00E9es", wide = "\u65E5\u672C/disk\U0001F4BE";
    const std::vector<Case> cases{
        {donnees, 0x0800},   // two-byte characters
        {wide, 0x0800},      // three- and four-byte characters
        {"DRIVE_0P1", 0},    // ASCII
        {"caf\xE9", 0},      // Latin-1
        {"\xC0\xAF", 0},     // an overlong slash
        {"\xED\xA0\x80", 0}, // a surrogate
        {"cut\xC3", 0},      // a character cut short
    };
    const std::string archive = dir_.file("names.zip");
    {
        TMiniZip zip(backend_);
        ASSERT_TRUE(zip.OpenArchive(archive, true));
        for (const auto& c : cases)
            ASSERT_TRUE(zip.AddEntry(source_, c.name, 0, 10)) << c.name;
    }
    const Bytes bytes = fixtures::readFile(archive);
    size_t at = get32(bytes, bytes.size() - 6);
    for (const auto& c : cases) {
        ASSERT_EQ(get32(bytes, at), 0x02014B50u);
        EXPECT_EQ(bytes[at + 8] | bytes[at + 9] << 8, c.flags) << c.name << ": directory";
        const size_t local = get32(bytes, at + 42);
        EXPECT_EQ(bytes[local + 6] | bytes[local + 7] << 8, c.flags) << c.name << ": local header";
        at += 46 + size_t(bytes[at + 28] | bytes[at + 29] << 8);
    }
    // Python compares each local header's name with its directory entry's as it reads the entry.
    std::string listing;
    EXPECT_EQ(accepted(archive, &listing).size(), cases.size());
    EXPECT_EQ(listing.substr(0, listing.find("DRIVE_0P1")), donnees + "\t10\n" + wide + "\t10\n");
#ifndef _WIN32 // unzip's own listing
    std::string unzipped;
    ASSERT_EQ(fixtures::shell("LC_ALL=C.UTF-8 unzip -l '" + archive + "'", &unzipped), 0);
    EXPECT_NE(unzipped.find(" " + donnees + "\n"), std::string::npos) << unzipped;
    EXPECT_NE(unzipped.find(" " + wide + "\n"), std::string::npos) << unzipped;
#endif
}
