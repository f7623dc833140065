// Fuzz target for the image reader's checks before the body: any bytes as an image file.
//
// With libFuzzer:   clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -I<src> -I<src>/tests ...
// As a program:     built with -DTARNWICK_FUZZ_STANDALONE:
//                   cdi_header_fuzz [--inputs N] [--seconds S] [--seed X] [corpus...]
//                   Any broken invariant aborts with a message.

#include "containers/cdi_format.h"
#include "support/memory_stream.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "cdi header: %s\n", what);
    std::abort();
}

int64_t get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return int64_t(v);
}

struct Totals {
    long checks[4] = {};
} totals;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    platform::testkit::MemoryStream image(data, size);
    const cdi::Inspection r = cdi::inspect(image);
    require(image.writes == 0, "wrote to the image");
    ++totals.checks[int(r.check)];
    if (size < 512) {
        require(r.check == cdi::Check::ShortHeader, "a short file got past the header");
        return 0;
    }
    const bool tags = std::memcmp(data, "\x04ZCDI", 5) == 0 &&
                      std::memcmp(data + 5,
                                  "\x04"
                                  "0100",
                                  5) == 0 &&
                      std::memcmp(data + 10, "\x04LIBZ", 5) == 0;
    const bool foot = std::memcmp(data + size - 4, "FOOT", 4) == 0;
    require(r.check == (!tags  ? cdi::Check::UnknownFormat
                        : foot ? cdi::Check::Ok
                               : cdi::Check::Incomplete),
            "checks out of order");
    if (!tags) return 0;
    require(r.header.sourceSize == get64(data + 19) && r.header.sourceOffset == get64(data + 27) &&
                r.header.dataStart == get64(data + 35),
            "numbers misread");
    require(r.header.sourceName.size() <= 256 && r.header.sourceDescription.size() <= 205,
            "text past its field");
    require(r.header.sourceName.find('\0') == std::string::npos, "name runs past its end");

    // What the writer makes of the same texts and numbers reads back the same.
    TFileInfo sel;
    sel.Size = r.header.sourceSize;
    sel.Offset = r.header.sourceOffset;
    sel.DefaultName = r.header.sourceName;
    sel.Description = r.header.sourceDescription;
    const auto h = cdi::buildHeader(sel);
    std::vector<uint8_t> again(h.begin(), h.end());
    const std::string f = cdi::footer(0);
    again.insert(again.end(), f.begin(), f.end());
    platform::testkit::MemoryStream rebuilt(std::move(again));
    const cdi::Inspection back = cdi::inspect(rebuilt);
    require(back.check == cdi::Check::Ok && back.header.sourceSize == sel.Size &&
                back.header.sourceOffset == sel.Offset && back.header.dataStart == 512 &&
                back.header.sourceName == sel.DefaultName && back.header.sourceDescription == sel.Description,
            "a built header reads back differently");
    require(rebuilt.bytes().size() % 4 == 0, "footer misaligned");
    return 0;
}

#ifdef TARNWICK_FUZZ_STANDALONE
#include "standalone.h"

int main(int argc, char** argv) {
    const int status = fuzz::runStandalone(
        argc, argv,
        [](std::mt19937& rng, const std::vector<std::vector<uint8_t>>& corpus) {
            std::vector<uint8_t> seed;
            if (!corpus.empty() && rng() % 2) {
                seed = corpus[rng() % corpus.size()];
            } else {
                // A valid header with random numbers and texts, and a footer.
                TFileInfo sel;
                sel.Size = int64_t(uint64_t(rng()) << 32 | rng());
                sel.Offset = int64_t(rng());
                for (size_t n = rng() % 300; n > 0; --n)
                    sel.DefaultName += char(rng() % 255 + 1);
                for (size_t n = rng() % 300; n > 0; --n)
                    sel.Description += char(rng() % 255 + 1);
                const auto h = cdi::buildHeader(sel);
                seed.assign(h.begin(), h.end());
                seed.resize(seed.size() + rng() % 64, uint8_t(rng()));
                const std::string f = cdi::footer(int64_t(seed.size()) - 512);
                seed.insert(seed.end(), f.begin(), f.end());
            }
            return fuzz::mutate(std::move(seed), rng);
        },
        "cdi_header_fuzz");
    std::printf("ok %ld, short %ld, unknown format %ld, incomplete %ld\n", totals.checks[0], totals.checks[1],
                totals.checks[2], totals.checks[3]);
    return status;
}
#endif
