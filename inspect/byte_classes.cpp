#include "inspect/byte_classes.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#endif

namespace inspect {

#if defined(__GNUC__)
namespace {

// GCC and Clang vector extensions, N bytes at a time; each width is compiled for the processors
// that have registers that wide (below) and picked when the program starts.
template <size_t N> struct Vectors {
    typedef uint8_t U __attribute__((vector_size(N)));
    typedef int8_t I __attribute__((vector_size(N)));
    typedef uint64_t W __attribute__((vector_size(N)));
};

// The sum of a vector's bytes: neighbouring bytes added into 16-bit fields, those summed by one
// multiplication per 64-bit word. Vectors pass by reference: by value, their calling convention
// would depend on the processor.
template <size_t N> [[gnu::always_inline]] inline uint64_t lanes(const typename Vectors<N>::U& v) {
    typename Vectors<N>::W w;
    std::memcpy(&w, &v, sizeof w);
    const typename Vectors<N>::W pairs = (w & 0x00FF00FF00FF00FFULL) + ((w >> 8) & 0x00FF00FF00FF00FFULL);
    uint64_t words[N / 8];
    std::memcpy(words, &pairs, sizeof words);
    uint64_t sum = 0;
    for (uint64_t x : words)
        sum += (x * 0x0001000100010001ULL) >> 48;
    return sum;
}

template <size_t N> [[gnu::always_inline]] inline ByteCounts countWith(const uint8_t* data, size_t size) {
    using V = typename Vectors<N>::U;
    using S = typename Vectors<N>::I;
    ByteCounts counts;
    // lo <= b < lo + n, as one addition and one signed comparison: b + (128 - lo) < n - 128.
    const V none{}, blank = none + uint8_t(' '), caseBit = none + uint8_t(0x20),
                    digitShift = none + uint8_t(128 - '0'), letterShift = none + uint8_t(128 - 'a'),
                    emptyShift = none + uint8_t(129);
    const S digitEnd = S{} + int8_t(10 - 128), letterEnd = S{} + int8_t(26 - 128),
            emptyEnd = S{} + int8_t(2 - 128);
    size_t i = 0;
    while (size - i >= N) {
        // A lane counts up to 255 before it would wrap.
        const size_t vectors = std::min<size_t>((size - i) / N, 255);
        V text{}, empty{};
        for (size_t v = 0; v < vectors; ++v, i += N) {
            V b;
            std::memcpy(&b, data + i, N);
            // Comparisons give all ones per matching lane; subtracting that adds 1.
            const V isText = V((b == blank) | V(S(b + digitShift) < digitEnd) |
                               V(S((b | caseBit) + letterShift) < letterEnd));
            const V isEmpty = V(S(b + emptyShift) < emptyEnd); // 255 and 0
            text -= isText;
            empty -= isEmpty;
        }
        counts.text += int64_t(lanes<N>(text));
        counts.empty += int64_t(lanes<N>(empty));
    }
    for (; i < size; ++i) {
        counts.text += isTextByte(data[i]);
        counts.empty += isEmptyByte(data[i]);
    }
    return counts;
}

using Counter = ByteCounts (*)(const uint8_t*, size_t);
using PieceCounter = void (*)(const uint8_t*, size_t, size_t, ByteCounts*);

ByteCounts count16(const uint8_t* data, size_t size) {
    return countWith<16>(data, size);
}
void pieces16(const uint8_t* data, size_t pieces, size_t pieceSize, ByteCounts* out) {
    for (size_t i = 0; i < pieces; ++i)
        out[i] = countWith<16>(data + i * pieceSize, pieceSize);
}

#if defined(__x86_64__) && !defined(__clang__)
// The map of a whole disk counts every byte: at memory speed only with the widest registers.
__attribute__((target("avx2"))) ByteCounts count32(const uint8_t* data, size_t size) {
    return countWith<32>(data, size);
}
__attribute__((target("avx512f,avx512bw"))) ByteCounts count64(const uint8_t* data, size_t size) {
    return countWith<64>(data, size);
}
__attribute__((target("avx2"))) void pieces32(const uint8_t* data, size_t pieces, size_t pieceSize,
                                              ByteCounts* out) {
    for (size_t i = 0; i < pieces; ++i)
        out[i] = countWith<32>(data + i * pieceSize, pieceSize);
}
// A sector is only 8 registers of 64 bytes: the comparisons' bit masks counted directly cost less
// than summing byte lanes for every piece.
__attribute__((target("avx512f,avx512bw,popcnt"))) void pieces64(const uint8_t* data, size_t pieces,
                                                                 size_t pieceSize, ByteCounts* out) {
    const __m512i blank = _mm512_set1_epi8(' '), caseBit = _mm512_set1_epi8(0x20),
                  digitShift = _mm512_set1_epi8(char(128 - '0')),
                  letterShift = _mm512_set1_epi8(char(128 - 'a')), emptyShift = _mm512_set1_epi8(char(129)),
                  digitEnd = _mm512_set1_epi8(char(10 - 128)), letterEnd = _mm512_set1_epi8(char(26 - 128)),
                  emptyEnd = _mm512_set1_epi8(char(2 - 128));
    for (size_t i = 0; i < pieces; ++i, data += pieceSize) {
        int64_t text = 0, empty = 0;
        size_t at = 0;
        for (; pieceSize - at >= 64; at += 64) {
            const __m512i b = _mm512_loadu_si512(data + at);
            const __mmask64 isText =
                _mm512_cmpeq_epi8_mask(b, blank) |
                _mm512_cmplt_epi8_mask(_mm512_add_epi8(b, digitShift), digitEnd) |
                _mm512_cmplt_epi8_mask(_mm512_add_epi8(_mm512_or_si512(b, caseBit), letterShift), letterEnd);
            text += __builtin_popcountll(isText);
            empty += __builtin_popcountll(_mm512_cmplt_epi8_mask(_mm512_add_epi8(b, emptyShift), emptyEnd));
        }
        for (; at < pieceSize; ++at) {
            text += isTextByte(data[at]);
            empty += isEmptyByte(data[at]);
        }
        out[i] = ByteCounts{text, empty};
    }
}
Counter pickCounter() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw")) return count64;
    if (__builtin_cpu_supports("avx2")) return count32;
    return count16;
}
PieceCounter pickPieceCounter() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("popcnt")) return pieces64;
    if (__builtin_cpu_supports("avx2")) return pieces32;
    return pieces16;
}
#else
Counter pickCounter() {
    return count16;
}
PieceCounter pickPieceCounter() {
    return pieces16;
}
#endif

} // namespace

ByteCounts countClasses(const uint8_t* data, size_t size) {
    static const Counter counter = pickCounter();
    return counter(data, size);
}

void countPieces(const uint8_t* data, size_t pieces, size_t pieceSize, ByteCounts* out) {
    static const PieceCounter counter = pickPieceCounter();
    counter(data, pieces, pieceSize, out);
}

bool allBytesAre(const uint8_t* data, size_t size, uint8_t value) {
    using V = Vectors<16>::U;
    const V pattern = V{} + value;
    V differ{};
    size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        V b;
        std::memcpy(&b, data + i, 16);
        differ |= b ^ pattern;
    }
    uint8_t rest = 0;
    for (; i < size; ++i)
        rest |= uint8_t(data[i] ^ value);
    return lanes<16>(differ) == 0 && rest == 0;
}

#else

ByteCounts countClasses(const uint8_t* data, size_t size) {
    ByteCounts counts;
    for (size_t i = 0; i < size; ++i) {
        counts.text += isTextByte(data[i]);
        counts.empty += isEmptyByte(data[i]);
    }
    return counts;
}

void countPieces(const uint8_t* data, size_t pieces, size_t pieceSize, ByteCounts* out) {
    for (size_t i = 0; i < pieces; ++i)
        out[i] = countClasses(data + i * pieceSize, pieceSize);
}

bool allBytesAre(const uint8_t* data, size_t size, uint8_t value) {
    return std::all_of(data, data + size, [value](uint8_t b) { return b == value; });
}

#endif

} // namespace inspect
