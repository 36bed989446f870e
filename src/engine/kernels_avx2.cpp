// AVX2 kernels: 32 bytes a step; the last partial vector goes to the scalar routine.
#include <immintrin.h>

#include "kernels_pack.h"
#include "kernels_resync.h"
#include "kernels_scalar.h"
#include "kernels_x86.h"

#define AVX2_TARGET __attribute__((target("avx2,bmi,popcnt")))

namespace {

AVX2_TARGET inline __m256i load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// 0xFF where the byte is visible. Adding 0x5F moves 0x21..0x7E to 0x80..0xDD, the signed bytes
// -128..-35, and every other value above them.
AVX2_TARGET inline __m256i visible_lanes(__m256i bytes) {
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(-34), _mm256_add_epi8(bytes, _mm256_set1_epi8(0x5F)));
}

AVX2_TARGET inline uint32_t bits_of(__m256i lanes) { return static_cast<uint32_t>(_mm256_movemask_epi8(lanes)); }

// Packs the bytes of the 16-byte group whose mask bits are set to dst; returns the count.
AVX2_TARGET inline size_t pack16(uint8_t* dst, __m128i bytes, uint32_t mask16) {
    const uint32_t low = mask16 & 0xFF;
    const uint32_t high = mask16 >> 8;
    const __m128i shuffle = _mm_set_epi64x(static_cast<long long>(pack_table[high] + 0x0808080808080808ull),
                                           static_cast<long long>(pack_table[low]));
    const __m128i packed = _mm_shuffle_epi8(bytes, shuffle);
    const size_t low_count = static_cast<size_t>(__builtin_popcount(low));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), packed);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + low_count), _mm_unpackhi_epi64(packed, packed));
    return low_count + static_cast<size_t>(__builtin_popcount(high));
}

// Whether the 128 bytes at a and b are equal.
AVX2_TARGET inline bool equal128_avx2(const uint8_t* a, const uint8_t* b) {
    __m256i all = _mm256_cmpeq_epi8(load(a), load(b));
    for (int k = 32; k < 128; k += 32) all = _mm256_and_si256(all, _mm256_cmpeq_epi8(load(a + k), load(b + k)));
    return bits_of(all) == 0xFFFFFFFF;
}

}  // namespace

AVX2_TARGET size_t find_visible_avx2(const uint8_t* p, size_t n) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32)
        if (const uint32_t bits = bits_of(visible_lanes(load(p + i))))
            return i + static_cast<size_t>(__builtin_ctz(bits));
    return i + find_visible_scalar(p + i, n - i);
}

AVX2_TARGET Advanced advance_common_avx2(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
    size_t i = 0;
    size_t j = 0;
    size_t resyncs = 0;
    // Identical stretches first, 128 bytes a step, with the fewest instructions; from the first
    // difference on, a vector at a time with the visible-byte rule.
    while (i + 128 <= na && i + 128 <= nb && equal128_avx2(a + i, b + i)) i += 128;
    j = i;
    while (i + 32 <= na && j + 32 <= nb) {
        const __m256i x = load(a + i);
        const __m256i y = load(b + j);
        const __m256i x_visible = visible_lanes(x);
        const __m256i y_visible = visible_lanes(y);
        const uint32_t differing =
            bits_of(_mm256_andnot_si256(_mm256_cmpeq_epi8(x, y), _mm256_or_si256(x_visible, y_visible)));
        if (differing == 0) {
            i += 32, j += 32;
            continue;
        }
        if (!resync_in_window<find_visible_avx2>(a, na, b, nb, i, j, differing, bits_of(x_visible), bits_of(y_visible)))
            return {i, j, resyncs};
        ++resyncs;
    }
    const Advanced rest = advance_common_scalar(a + i, na - i, b + j, nb - j);
    return {i + rest.a, j + rest.b, resyncs + rest.resyncs};
}

AVX2_TARGET Compacted compact_visible_avx2(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t i = 0;
    size_t written = 0;
    // Whole vectors while the limit lies beyond them; the vector that reaches it, like the last
    // partial one, goes to the scalar routine, which stops just after the limit-th byte.
    for (; i + 32 <= n; i += 32) {
        const __m256i bytes = load(src + i);
        const uint32_t mask = bits_of(visible_lanes(bytes));
        if (written + static_cast<size_t>(__builtin_popcount(mask)) >= limit) break;
        written += pack16(dst + written, _mm256_castsi256_si128(bytes), mask & 0xFFFF);
        written += pack16(dst + written, _mm256_extracti128_si256(bytes, 1), mask >> 16);
    }
    const Compacted rest = compact_visible_scalar(dst + written, src + i, n - i, limit - written);
    return {i + rest.consumed, written + rest.written};
}

AVX2_TARGET size_t first_mismatch_avx2(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + 32 <= n; i += 32)
        if (const uint32_t equal = bits_of(_mm256_cmpeq_epi8(load(a + i), load(b + i))); equal != 0xFFFFFFFF)
            return i + static_cast<size_t>(__builtin_ctz(~equal));
    return i + first_mismatch_scalar(a + i, b + i, n - i);
}
