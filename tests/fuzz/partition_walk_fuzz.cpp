// Fuzz target for the partition table walk and the GUID partition table reader: any bytes as a
// disk, walked from its first sector with both sector sizes and read as a GUID table with both.
//
// With libFuzzer:   clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -I<src> -I<src>/tests ...
// As a program:     build with -DTARNWICK_FUZZ_STANDALONE and run
//                   partition_walk_fuzz [--disks N] [--seed S] [file...]
//                   which walks every named file (a corpus) and then N generated disks
//                   (default 20000, seed 1). Any broken invariant aborts with a message.

#include "discovery/gpt.h"
#include "discovery/partitions.h"
#include "support/memory_stream.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "partition walk: %s\n", what);
    std::abort();
}

struct Totals {
    long walks = 0;
    long rows = 0;
    long budgetReached = 0;
    int mostTables = 0;
    long gptTables = 0;
} totals;

void walkOnce(const uint8_t* data, size_t size, bool lengthKnown, int64_t offset, uint32_t sectorSize = 512) {
    platform::testkit::MemoryStream device(data, size);
    device.failLength = !lengthKnown;
    device.bytesPerSector = sectorSize;
    const PartitionWalkResult r = WalkPartitionTable(device, "0", offset);
    const int reads = int(device.reads.size());

    require(reads >= 1 && reads <= kMaxPartitionTables, "read more tables than allowed");
    require(device.writes == 0, "wrote to the disk");
    require(r.messages.size() <= 1, "more than one message");
    require(r.rows.size() <= size_t(kPartitionSlotCount) * size_t(reads), "more rows than slots read");
    if (!r.messages.empty() && r.messages[0] == kMsgFailedToReadMbr)
        require(r.rows.empty(), "rows without an MBR");
    for (const PartitionRow& row : r.rows) {
        require(row.slot >= 1 && row.slot <= kPartitionSlotCount, "slot out of range");
        require(row.index == std::to_string(row.slot), "index text");
        require(row.kind == "Primary" || row.kind == "Extended", "kind text");
        require(row.type.size() == 2, "type text");
        require(row.entry.firstSector != 0 || row.entry.sectorCount != 0, "empty slot listed");
        require(row.kind == "Primary" || row.entry.type != kPartitionTypeExtended, "link listed");
        require(row.absoluteStart >= row.entry.firstSector, "start below the first sector");
        require(row.fileSystem == PartitionTypeNames()[row.entry.type], "file system text");
        require(row.byteOffset >= 0 && row.byteSize >= 0, "negative range");
        if (lengthKnown && row.refusal.empty())
            require(row.byteOffset <= int64_t(size) && row.byteSize <= int64_t(size) - row.byteOffset,
                    "a selectable row leaves the disk");
    }

    ++totals.walks;
    totals.rows += long(r.rows.size());
    if (reads == kMaxPartitionTables) ++totals.budgetReached;
    totals.mostTables = std::max(totals.mostTables, reads);
}

void readGptOnce(const uint8_t* data, size_t size, int64_t sectorSize) {
    platform::testkit::MemoryStream device(data, size);
    const gpt::Table t = gpt::read(device, sectorSize, int64_t(size));
    require(device.writes == 0, "wrote to the disk");
    require(t.notes.size() <= 1, "more than one note");
    require(t.found || t.entries.empty(), "entries without a table");
    int last = 0;
    for (const auto& e : t.entries) {
        require(e.number > last, "entries out of order");
        last = e.number;
        require(e.type != std::array<uint8_t, 16>{}, "an unused entry listed");
        require(e.name.size() <= 36 * 4, "name longer than its field");
        const PartitionRow row = MakeGptRow(e, sectorSize, "0");
        require(row.byteOffset >= 0 && row.byteSize >= 0, "negative range");
        if (e.lastLba < e.firstLba)
            require(row.byteSize == 0 && row.sectorCount == "0" && !row.refusal.empty(),
                    "an entry ending before it starts");
    }
    if (t.found) ++totals.gptTables;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readGptOnce(data, size, 512);
    readGptOnce(data, size, 4096);
    walkOnce(data, size, true, 0);
    walkOnce(data, size, true, 0, 4096);
    // Without a length only the forward rule and the table budget end a chain.
    walkOnce(data, size, false, 0);
    // A table at a partition's first byte, as after a volume label change.
    if (size > 512) walkOnce(data, size, true, 512);
    return 0;
}

#ifdef TARNWICK_FUZZ_STANDALONE

#include <fstream>
#include <iterator>
#include <random>

namespace {

// Disks that look enough like partitioned ones to go deep into chains: forward, backward and
// self links, forks, missing signatures, odd lengths. Uses the engine's raw output only, so the
// same seed gives the same disks everywhere.
class DiskGenerator {
public:
    explicit DiskGenerator(uint32_t seed) : rng_(seed) {}

    std::vector<uint8_t> next() {
        if (pick(4) == 0) return guidDisk();
        const uint32_t sectors = pick(10) == 0 ? 1 + pick(600) : 1 + pick(64);
        std::vector<uint8_t> disk(size_t(sectors) * 512, 0);
        if (pick(3) == 0)
            legalChain(disk, sectors);
        else
            randomTables(disk, sectors);
        // A few stray bytes, and sometimes a length that is no multiple of 512.
        for (uint32_t n = pick(4); n > 0; --n)
            disk[pick(uint32_t(disk.size()))] = uint8_t(pick(256));
        if (pick(8) == 0) disk.resize(disk.size() - pick(512));
        return disk;
    }

private:
    uint32_t pick(uint32_t n) { return n == 0 ? 0 : uint32_t(rng_() % n); }

    void slot(std::vector<uint8_t>& disk, uint32_t sector, int index, uint8_t type, uint32_t first,
              uint32_t count) {
        uint8_t* p = disk.data() + size_t(sector) * 512 + 446 + size_t(index) * 16;
        p[0] = pick(4) == 0 ? 0x80 : 0;
        for (int i = 1; i < 4; ++i)
            p[i] = uint8_t(pick(256));
        p[4] = type;
        for (int i = 5; i < 8; ++i)
            p[i] = uint8_t(pick(256));
        for (int i = 0; i < 4; ++i) {
            p[8 + i] = uint8_t(first >> (8 * i));
            p[12 + i] = uint8_t(count >> (8 * i));
        }
    }
    void sign(std::vector<uint8_t>& disk, uint32_t sector) {
        disk[size_t(sector) * 512 + 510] = 0x55;
        disk[size_t(sector) * 512 + 511] = 0xAA;
    }

    uint8_t type() {
        switch (pick(6)) {
        case 0:
        case 1:
        case 2:
            return kPartitionTypeExtended;
        case 3:
            return 0x83;
        case 4:
            return 0;
        default:
            return uint8_t(pick(256));
        }
    }
    uint32_t first(uint32_t sectors) {
        switch (pick(10)) {
        case 0:
            return 0;
        case 1:
            return 0xFFFFFFFF - pick(4);
        case 2:
            return uint32_t(rng_());
        default:
            return pick(sectors + 2);
        }
    }

    // An extended partition whose tables follow each other, then disturbed.
    void legalChain(std::vector<uint8_t>& disk, uint32_t sectors) {
        const uint32_t extStart = 1 + pick(4);
        const uint32_t spacing = 1 + pick(3);
        if (extStart >= sectors) return;
        slot(disk, 0, int(pick(4)), kPartitionTypeExtended, extStart, sectors - extStart);
        sign(disk, 0);
        for (uint32_t at = extStart; at < sectors; at += spacing) {
            slot(disk, at, 0, 0x83, 1, spacing);
            if (at + spacing < sectors)
                slot(disk, at, 1, kPartitionTypeExtended, at + spacing - extStart, spacing);
            if (pick(50) != 0) sign(disk, at);
            if (pick(40) == 0) slot(disk, at, 2 + int(pick(2)), kPartitionTypeExtended, first(sectors), 1);
        }
    }

    void randomTables(std::vector<uint8_t>& disk, uint32_t sectors) {
        for (uint32_t s = 0; s < sectors; ++s) {
            if (pick(5) < 2) continue;
            for (int i = 0; i < 4; ++i)
                if (pick(3) != 0) slot(disk, s, i, type(), first(sectors), uint32_t(rng_()));
            if (pick(20) != 0) sign(disk, s);
        }
    }

    static void put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            d[at + size_t(i)] = uint8_t(v >> (8 * i));
    }
    static void put64(std::vector<uint8_t>& d, size_t at, uint64_t v) {
        for (int i = 0; i < 8; ++i)
            d[at + size_t(i)] = uint8_t(v >> (8 * i));
    }
    static uint32_t crc(const uint8_t* p, size_t n) {
        return uint32_t(::crc32(::crc32(0, nullptr, 0), p, uInt(n)));
    }

    // A protective record and GUID headers whose checksums mostly hold, so the reader gets past
    // them to entry arrays of odd counts, sizes and places.
    std::vector<uint8_t> guidDisk() {
        const uint32_t sectors = 8 + pick(300);
        std::vector<uint8_t> disk(size_t(sectors) * 512, 0);
        slot(disk, 0, 0, 0xEE, 1, sectors - 1);
        sign(disk, 0);
        const uint32_t count = pick(8) == 0 ? uint32_t(rng_()) : pick(200);
        const uint32_t sizes[] = {128, 256, 17, 0, 136, uint32_t(rng_())};
        const uint32_t entrySize = sizes[pick(6)];
        for (const uint64_t at : {uint64_t(1), uint64_t(sectors - 1)}) {
            if (at != 1 && pick(2) == 0) continue;
            const uint64_t entriesLba = pick(6) == 0 ? uint64_t(rng_()) << pick(40) : 2 + pick(sectors);
            uint8_t* h = disk.data() + at * 512;
            std::memcpy(h, "EFI PART", 8);
            std::vector<uint8_t> header(512);
            std::memcpy(header.data(), "EFI PART", 8);
            put32(header, 12, pick(10) == 0 ? uint32_t(rng_()) : 92);
            put64(header, 24, pick(10) == 0 ? uint64_t(rng_()) : at);
            put64(header, 72, entriesLba);
            put32(header, 80, count);
            put32(header, 84, entrySize);
            const uint64_t bytes = uint64_t(count) * entrySize;
            const uint64_t start = entriesLba * 512;
            if (bytes < disk.size() && start < disk.size() && start + bytes <= disk.size()) {
                for (uint64_t i = 0; i < bytes; ++i)
                    if (pick(3) == 0) disk[size_t(start + i)] = uint8_t(pick(256));
                if (pick(6) != 0) put32(header, 88, crc(disk.data() + start, size_t(bytes)));
            }
            if (pick(6) != 0) put32(header, 16, crc(header.data(), std::min<uint32_t>(92, 512)));
            std::memcpy(h, header.data(), 512);
        }
        return disk;
    }

    std::mt19937 rng_;
};

bool readFile(const char* path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

} // namespace

int main(int argc, char** argv) {
    long disks = 20000;
    uint32_t seed = 1;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--disks" || arg == "--seed") && i + 1 < argc) {
            const unsigned long value = std::strtoul(argv[++i], nullptr, 10);
            if (arg == "--disks")
                disks = long(value);
            else
                seed = uint32_t(value);
        } else {
            files.push_back(argv[i]);
        }
    }

    for (const char* path : files) {
        std::vector<uint8_t> bytes;
        if (!readFile(path, bytes)) {
            std::fprintf(stderr, "cannot read %s\n", path);
            return 2;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }

    DiskGenerator generator(seed);
    for (long i = 0; i < disks; ++i) {
        const std::vector<uint8_t> disk = generator.next();
        LLVMFuzzerTestOneInput(disk.data(), disk.size());
    }

    std::printf("%zu files, %ld generated disks, %ld walks, %ld rows, most tables in one walk %d, "
                "table budget reached %ld times, %ld GUID tables read: ok\n",
                files.size(), disks, totals.walks, totals.rows, totals.mostTables, totals.budgetReached,
                totals.gptTables);
    return 0;
}

#endif
