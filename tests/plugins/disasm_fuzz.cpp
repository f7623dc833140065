// Fuzz target for the disassembler library: any bytes as code, decoded at every offset in all
// three modes from memory that ends where an unreadable page begins.
//
// With libFuzzer:   clang++ -std=c++20 -fsanitize=fuzzer,address,undefined -I<src> -I<src>/tests
//                   -DTW_DISASM_PLUGIN='"<path of libDisasm.so>"' ...
// As a program:     build with -DTARNWICK_FUZZ_STANDALONE and run
//                   disasm_fuzz [--seconds S] [--seed S] [file...]
//                   which decodes every named file (a corpus), then generated inputs for S seconds
//                   (default 3). Any broken promise aborts with a message.

#include "guarded_bytes.h"
#include "platform/library.h"
#include "plugins/disasm/disasm_abi.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void require(bool condition, const char* what, uint32_t address) {
    if (condition) return;
    std::fprintf(stderr, "disassembler library: %s (at %08X)\n", what, address);
    std::abort();
}

DisAssembleFn entry() {
    static const std::unique_ptr<platform::Library> library = platform::loadLibrary({TW_DISASM_PLUGIN});
    static const auto fn =
        library ? reinterpret_cast<DisAssembleFn>(library->symbol(TW_DISASM_EXPORT_NAME)) : nullptr;
    require(fn != nullptr, "cannot load " TW_DISASM_PLUGIN, 0);
    return fn;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}
long calls = 0;

// One call, and everything the library promises about it.
void decodeOnce(const uint8_t* code, uint32_t address, int32_t mode) {
    constexpr uint8_t canary = 0xCD;
    char text[kDisasmTextCapacity + 64];
    uint8_t record[kDisasmRecordSize + 8];
    std::memset(text, canary, sizeof text);
    std::memset(record, canary, sizeof record);
    const int32_t n = entry()(code, address, text, record, mode);
    ++calls;

    require(n >= 1 && n < kDisasmTextCapacity && std::strlen(text) == size_t(n), "text length", address);
    for (size_t i = size_t(n) + 1; i < sizeof text; ++i)
        require(uint8_t(text[i]) == canary, "wrote past the text", address);
    for (size_t i = 0; i < sizeof record; ++i)
        if (i < kDisasmRecordLengthOffset || i >= kDisasmRecordLengthOffset + 4)
            require(record[i] == canary, "wrote outside the record's length", address);
    int32_t length = 0;
    std::memcpy(&length, record + kDisasmRecordLengthOffset, sizeof length);
    require(length >= 1 && length <= kDisasmMaxInstructionBytes, "instruction length", address);

    // ADDRESS \t BYTES \t INSTRUCTION in the house style.
    char expected[16 + 2 * kDisasmMaxInstructionBytes];
    int at = std::snprintf(expected, sizeof expected, "%08X\t", address);
    for (int32_t i = 0; i < length; ++i)
        at += std::snprintf(expected + at, sizeof expected - size_t(at), "%02X", code[i]);
    require(std::strncmp(text, expected, size_t(at)) == 0 && text[at] == '\t', "address or bytes field",
            address);
    const std::string instruction(text + at + 1);
    require(!instruction.empty() && instruction.find('\t') == std::string::npos, "instruction field",
            address);
    for (size_t i = 0; i < instruction.size(); ++i) {
        const char c = instruction[i];
        require(c >= ' ' && c <= '~', "unprintable character", address);
        const bool suffix = c == 'h' && i > 0 && isHex(instruction[i - 1]);
        require(!(c >= 'a' && c <= 'z') || suffix, "lower case", address);
        // A number never starts with a letter: 0BEEFh, not BEEFh.
        if (suffix) {
            size_t first = i;
            while (first > 0 && isHex(instruction[first - 1]))
                --first;
            const bool token =
                first == 0 || !std::isalnum(static_cast<unsigned char>(instruction[first - 1]));
            require(!token || instruction[first] <= '9', "number starts with a letter", address);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // The code followed by the zeros every caller appends; the address from its first bytes.
    GuardedBytes padded(size + kDisasmCodePadding);
    std::memcpy(padded.data(), data, size);
    std::memset(padded.data() + size, 0, kDisasmCodePadding);
    uint32_t base = 0;
    std::memcpy(&base, data, std::min(size, sizeof base));
    for (int32_t mode : {kDisasmModeReal16, kDisasmModeProtected32, kDisasmModeLong64}) {
        for (size_t offset = 0; offset < size; ++offset)
            decodeOnce(padded.data() + offset, base + uint32_t(offset), mode);
        // Without the zeros: 15 bytes may be read, not one more.
        if (size >= size_t(kDisasmMaxInstructionBytes)) {
            GuardedBytes exact(std::vector<uint8_t>(data, data + kDisasmMaxInstructionBytes));
            decodeOnce(exact.data(), base, mode);
        }
    }
    return 0;
}

#ifdef TARNWICK_FUZZ_STANDALONE

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>

int main(int argc, char** argv) {
    double seconds = 3;
    uint32_t seed = 1;
    size_t files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--seconds" || arg == "--seed") && i + 1 < argc) {
            (arg == "--seconds" ? void(seconds = std::strtod(argv[++i], nullptr))
                                : void(seed = uint32_t(std::strtoul(argv[++i], nullptr, 10))));
            continue;
        }
        std::ifstream in(argv[i], std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        if (!in.good() && !in.eof()) return std::fprintf(stderr, "cannot read %s\n", argv[i]), 2;
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        ++files;
    }

    // Random bytes, half of them salted with what makes x86 decoding hard: prefix runs up to and
    // past the 15-byte limit, REX, VEX, EVEX and XOP escapes, the two- and three-byte opcode maps,
    // far pointers and ModRM forms with displacements.
    static const std::vector<std::vector<uint8_t>> salts{{0x66},
                                                         {0x67},
                                                         {0xF0},
                                                         {0xF2},
                                                         {0xF3},
                                                         {0x2E},
                                                         {0x64},
                                                         {0x48},
                                                         {0x4F},
                                                         {0x0F},
                                                         {0x0F, 0x38},
                                                         {0x0F, 0x3A},
                                                         {0xC5},
                                                         {0xC4},
                                                         {0x62},
                                                         {0x8F},
                                                         {0xEA},
                                                         {0x9A},
                                                         {0x8B, 0x84, 0x24},
                                                         {0x0F, 0x0F}};
    std::mt19937 rng(seed);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long generated = 0;
    for (; std::chrono::steady_clock::now() < deadline; ++generated) {
        std::vector<uint8_t> code(1 + rng() % (rng() % 8 == 0 ? 512 : 48));
        for (auto& b : code)
            b = uint8_t(rng());
        for (size_t at = 0; rng() % 2 == 0 && at < code.size(); at += 1 + rng() % 6) {
            const auto& s =
                rng() % 16 == 0 ? std::vector<uint8_t>(12 + rng() % 6, 0x66) : salts[rng() % salts.size()];
            std::copy_n(s.begin(), std::min(s.size(), code.size() - at), code.begin() + long(at));
        }
        LLVMFuzzerTestOneInput(code.data(), code.size());
    }
    std::printf("%zu files, %ld generated inputs, %ld calls: ok\n", files, generated, calls);
    return 0;
}

#endif
