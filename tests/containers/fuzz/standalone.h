#pragma once
// The plain-program side of a fuzz target: every file of a corpus (files or folders), then
// generated inputs until a count or a time is reached.
//   <target> [--inputs N] [--seconds S] [--seed X] [corpus file or folder...]

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzz {

using Generator =
    std::function<std::vector<uint8_t>(std::mt19937& rng, const std::vector<std::vector<uint8_t>>& corpus)>;

// A copy of `input` with a few bytes changed, cut, or grown: how generated inputs start.
inline std::vector<uint8_t> mutate(std::vector<uint8_t> input, std::mt19937& rng) {
    const auto pick = [&](size_t n) { return n == 0 ? size_t(0) : size_t(rng() % n); };
    for (size_t n = pick(6); n > 0 && !input.empty(); --n)
        input[pick(input.size())] = uint8_t(rng());
    switch (pick(8)) {
    case 0:
        input.resize(pick(input.size() + 1));
        break;
    case 1:
        input.resize(input.size() + pick(64), uint8_t(rng()));
        break;
    case 2:
        if (!input.empty()) input.erase(input.begin() + long(pick(input.size())));
        break;
    default:
        break;
    }
    return input;
}

inline int runStandalone(int argc, char** argv, const Generator& generate, const char* name) {
    long inputs = 100000;
    double seconds = 5;
    uint32_t seed = 1;
    std::vector<std::vector<uint8_t>> corpus;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--inputs" || arg == "--seconds" || arg == "--seed") && i + 1 < argc) {
            const char* value = argv[++i];
            if (arg == "--inputs")
                inputs = std::strtol(value, nullptr, 10);
            else if (arg == "--seconds")
                seconds = std::strtod(value, nullptr);
            else
                seed = uint32_t(std::strtoul(value, nullptr, 10));
            continue;
        }
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg)) {
            for (const auto& e : std::filesystem::directory_iterator(arg))
                if (e.is_regular_file()) files.push_back(e.path());
        } else {
            files.push_back(arg);
        }
        for (const auto& f : files) {
            std::ifstream in(f, std::ios::binary);
            if (!in) {
                std::fprintf(stderr, "cannot read %s\n", f.string().c_str());
                return 2;
            }
            corpus.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    for (const auto& c : corpus)
        LLVMFuzzerTestOneInput(c.data(), c.size());

    std::mt19937 rng(seed);
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long done = 0;
    for (; done < inputs; ++done) {
        if (done % 256 == 0 && std::chrono::steady_clock::now() > until) break;
        const auto input = generate(rng, corpus);
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("%s: %zu corpus files, %ld generated inputs: ok\n", name, corpus.size(), done);
    return 0;
}

} // namespace fuzz
