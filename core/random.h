#pragma once
// Pseudo-random numbers for the tools: the erase's random fill, the seek test's positions. Not
// for anything secret.

#include <cstdint>

namespace prng {

// splitmix64: one well-mixed 64-bit value per step, for any seed.
class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

private:
    uint64_t state_;
};

// Random bytes in bulk: eight xoshiro256+ generators side by side (8 bytes a step each), so that
// filling a buffer runs on vector instructions and costs less than writing it to a device.
class RandomFill {
public:
    explicit RandomFill(uint64_t seed);
    void fill(char* out, int64_t count);

    static constexpr int kLanes = 8;

private:
    uint64_t s_[4][kLanes];
};

// A seed from a clock reading: nearby readings give unrelated streams.
inline uint64_t seedFrom(int64_t ms) {
    return uint64_t(ms) * 0x2545F4914F6CDD1Dull + 0x9E3779B97F4A7C15ull;
}

} // namespace prng
