// Fuzz target for the zip end record search and the central directory reader: any bytes as an
// archive to append to.
//
// With libFuzzer:   clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -I<src> -I<src>/tests ...
// As a program:     built with -DTARNWICK_FUZZ_STANDALONE:
//                   zip_directory_fuzz [--inputs N] [--seconds S] [--seed X] [corpus...]
//                   Any broken invariant aborts with a message.

#include "containers/mini_zip.h"
#include "support/memory_stream.h"

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "zip directory: %s\n", what);
    std::abort();
}

struct Totals {
    long records = 0;
    long directories = 0;
    long entries = 0;
} totals;

uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::testkit::MemoryStream archive(data, size);
    const auto end = containers::FindEndRecord(archive);
    require(archive.writes == 0, "wrote to the archive");
    if (!end) return 0;
    ++totals.records;
    const int64_t n = int64_t(size);
    require(end->position >= 0 && end->position + 22 <= n, "record outside the file");
    require(end->position >= n - 443 && end->position <= n - 5, "record outside the searched tail");
    require(get32(data + end->position) == 0x06054B50, "no signature at the record");
    require(std::equal(end->bytes.begin(), end->bytes.end(), data + end->position), "record misread");
    require(end->comment.size() <= end->commentLength() &&
                int64_t(end->comment.size()) <= n - end->position - 22,
            "comment past the file or its length");
    // Nothing nearer the end looks like a record.
    for (int64_t p = n - 5; p > end->position; --p)
        require(get32(data + p) != 0x06054B50, "not the last record");

    const auto directory = containers::ReadCentralDirectory(archive, *end);
    if (!directory) return 0;
    ++totals.directories;
    totals.entries += long(directory->size());
    require(directory->size() == end->entriesOnDisk(), "entry count");
    int64_t bytes = 0;
    for (const auto& e : *directory) {
        require(get32(e.Header.data()) == 0x02014B50, "entry without its signature");
        require(e.FileName.size() == e.nameLength() && e.ExtraField.size() == e.extraLength() &&
                    e.FileComment.size() == e.commentLength(),
                "variable parts misread");
        bytes += e.directoryBytes();
    }
    require(end->directoryOffset() + bytes <= end->position, "directory runs into its end record");
    return 0;
}

#ifdef TARNWICK_FUZZ_STANDALONE
#include "standalone.h"

namespace {

void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(uint8_t(x));
    v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

// A small archive's tail: some bytes standing for entries, a directory of a few entries with
// names, extra fields and comments, the end record and a trailing comment of up to 450 bytes.
std::vector<uint8_t> archiveLike(std::mt19937& rng) {
    std::vector<uint8_t> a(rng() % 200, uint8_t(rng()));
    const uint32_t directory = uint32_t(a.size());
    const uint32_t entries = rng() % 5;
    for (uint32_t i = 0; i < entries; ++i) {
        const uint32_t name = rng() % 20, extra = rng() % 3 ? 0 : rng() % 12,
                       comment = rng() % 3 ? 0 : rng() % 30;
        put32(a, 0x02014B50);
        for (int k = 0; k < 24; ++k)
            a.push_back(uint8_t(rng()));
        put16(a, name);
        put16(a, extra);
        put16(a, comment);
        for (int k = 0; k < 12; ++k)
            a.push_back(uint8_t(rng()));
        for (uint32_t k = 0; k < name + extra + comment; ++k)
            a.push_back(uint8_t('a' + rng() % 26));
    }
    const uint32_t size = uint32_t(a.size()) - directory;
    const uint32_t comment = rng() % 4 ? rng() % 40 : 400 + rng() % 50;
    put32(a, 0x06054B50);
    put16(a, 0);
    put16(a, 0);
    put16(a, entries);
    put16(a, entries);
    put32(a, size);
    put32(a, directory);
    put16(a, rng() % 8 ? comment : rng());
    for (uint32_t k = 0; k < comment; ++k)
        a.push_back(uint8_t(rng()));
    return a;
}

} // namespace

int main(int argc, char** argv) {
    const int status = fuzz::runStandalone(
        argc, argv,
        [](std::mt19937& rng, const std::vector<std::vector<uint8_t>>& corpus) {
            if (!corpus.empty() && rng() % 3 == 0) return fuzz::mutate(corpus[rng() % corpus.size()], rng);
            return fuzz::mutate(archiveLike(rng), rng);
        },
        "zip_directory_fuzz");
    std::printf("end records found %ld, directories read %ld, entries %ld\n", totals.records,
                totals.directories, totals.entries);
    return status;
}
#endif
