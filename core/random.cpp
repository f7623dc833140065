#include "core/random.h"

#include <cstring>

namespace prng {
namespace {

constexpr int64_t kStep = RandomFill::kLanes * 8; // bytes one step of all lanes gives

// Eight lanes in one vector value: the compiler keeps them in vector registers, and on x86-64
// Linux a version for AVX2 and AVX-512 is picked at load time.
typedef uint64_t Lanes __attribute__((vector_size(RandomFill::kLanes * 8)));

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
__attribute__((target_clones("avx512f", "avx2", "default")))
#endif
void steps(uint64_t (&state)[4][RandomFill::kLanes], char* out, int64_t count) {
    Lanes s[4];
    std::memcpy(s, state, sizeof s);
    for (int64_t at = 0; at + kStep <= count; at += kStep) {
        const Lanes v = s[0] + s[3];
        const Lanes t = s[1] << 17;
        s[2] ^= s[0];
        s[3] ^= s[1];
        s[1] ^= s[2];
        s[0] ^= s[3];
        s[2] ^= t;
        s[3] = (s[3] << 45) | (s[3] >> 19);
        std::memcpy(out + at, &v, sizeof v);
    }
    std::memcpy(state, s, sizeof s);
}

} // namespace

RandomFill::RandomFill(uint64_t seed) {
    SplitMix64 mix(seed);
    for (auto& word : s_)
        for (auto& lane : word)
            lane = mix.next();
}

void RandomFill::fill(char* out, int64_t count) {
    const int64_t whole = count / kStep * kStep;
    steps(s_, out, whole);
    if (whole < count) {
        char tail[kStep];
        steps(s_, tail, kStep);
        std::memcpy(out + whole, tail, size_t(count - whole));
    }
}

} // namespace prng
