// AVX-512 kernels (BW for byte masks, VBMI2 for the byte compress): 64 bytes a step; the last
// partial vector goes to the scalar routine.
#ifndef AVX512_TARGET
#include <immintrin.h>
#define AVX512_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi2,popcnt")))
#endif

#include "kernels_resync.h"
#include "kernels_scalar.h"
#include "kernels_x86.h"

namespace {

AVX512_TARGET inline __m512i load64(const uint8_t* p) { return _mm512_loadu_si512(p); }

// Bit set where the byte is visible: byte - 0x21 < 0x5E, unsigned.
AVX512_TARGET inline uint64_t visible_mask(__m512i bytes) {
    return _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8(0x21)), _mm512_set1_epi8(0x5E));
}

// The lowest `keep` set bits of mask.
inline uint64_t lowest_set_bits(uint64_t mask, size_t keep) {
    uint64_t rest = mask;
    for (size_t k = 0; k < keep; ++k) rest &= rest - 1;
    return mask & ~rest;
}

// Whether the 128 bytes at a and b are equal.
AVX512_TARGET inline bool equal128_avx512(const uint8_t* a, const uint8_t* b) {
    return (_mm512_cmpeq_epi8_mask(load64(a), load64(b)) & _mm512_cmpeq_epi8_mask(load64(a + 64), load64(b + 64))) ==
           ~uint64_t{0};
}

}  // namespace

AVX512_TARGET size_t find_visible_avx512(const uint8_t* p, size_t n) {
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        if (const uint64_t bits = visible_mask(load64(p + i))) return i + static_cast<size_t>(__builtin_ctzll(bits));
    return i + find_visible_scalar(p + i, n - i);
}

AVX512_TARGET Advanced advance_common_avx512(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
    size_t i = 0;
    size_t j = 0;
    size_t resyncs = 0;
    // Identical stretches first, with the fewest instructions; from the first difference on, a
    // vector at a time with the visible-byte rule.
    while (i + 128 <= na && i + 128 <= nb && equal128_avx512(a + i, b + i)) i += 128;
    j = i;
    while (i + 64 <= na && j + 64 <= nb) {
        const __m512i x = load64(a + i);
        const __m512i y = load64(b + j);
        const uint64_t x_visible = visible_mask(x);
        const uint64_t y_visible = visible_mask(y);
        const uint64_t differing = ~_mm512_cmpeq_epi8_mask(x, y) & (x_visible | y_visible);
        if (differing == 0) {
            i += 64, j += 64;
            continue;
        }
        if (!resync_in_window<find_visible_avx512>(a, na, b, nb, i, j, differing, x_visible, y_visible))
            return {i, j, resyncs};
        ++resyncs;
    }
    const Advanced rest = advance_common_scalar(a + i, na - i, b + j, nb - j);
    return {i + rest.a, j + rest.b, resyncs + rest.resyncs};
}

AVX512_TARGET Compacted compact_visible_avx512(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t i = 0;
    size_t written = 0;
    for (; i + 64 <= n && written < limit; i += 64) {
        const __m512i bytes = load64(src + i);
        uint64_t mask = visible_mask(bytes);
        const size_t count = static_cast<size_t>(__builtin_popcountll(mask));
        if (written + count >= limit) {
            // The limit falls in this vector: keep its first bytes and stop just after them.
            mask = lowest_set_bits(mask, limit - written);
            _mm512_storeu_si512(dst + written, _mm512_maskz_compress_epi8(mask, bytes));
            return {i + 64 - static_cast<size_t>(__builtin_clzll(mask)), limit};
        }
        _mm512_storeu_si512(dst + written, _mm512_maskz_compress_epi8(mask, bytes));
        written += count;
    }
    const Compacted rest = compact_visible_scalar(dst + written, src + i, n - i, limit - written);
    return {i + rest.consumed, written + rest.written};
}

AVX512_TARGET size_t first_mismatch_avx512(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        if (const uint64_t differ = ~_mm512_cmpeq_epi8_mask(load64(a + i), load64(b + i)))
            return i + static_cast<size_t>(__builtin_ctzll(differ));
    return i + first_mismatch_scalar(a + i, b + i, n - i);
}
