// AVX-512 kernels (BW for byte masks, VBMI2 for the byte compress): windows of 64 bytes.
// The tests compile this file once more against a portable rendering of the intrinsics, in a
// namespace of their own (KERNELS_AVX512_NAMESPACE, without a target), to run its logic on
// processors without AVX-512.
#ifndef KERNELS_AVX512_NAMESPACE
#include <immintrin.h>
#define KERNELS_AVX512_NAMESPACE avx512
#define KERNELS_AVX512_TARGETED
#endif

#include "kernels_scalar.h"
#include "kernels_target.h"
#include "kernels_x86.h"

#ifdef KERNELS_AVX512_TARGETED
KERNELS_TARGET_BEGIN("avx512f,avx512bw,avx512vbmi2,popcnt")
#endif
namespace kernels::KERNELS_AVX512_NAMESPACE {
namespace {

inline __m512i load(const uint8_t* p) { return _mm512_loadu_si512(p); }

// Bit set where the byte is visible: byte - 0x21 < 0x5E, unsigned.
inline uint64_t visible_mask(__m512i bytes) {
    return _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8(0x21)), _mm512_set1_epi8(0x5E));
}

struct Window {
    static constexpr size_t width = 64;
    static constexpr size_t stretch = 128;
    __m512i bytes;

    static Window load(const uint8_t* p) { return {KERNELS_AVX512_NAMESPACE::load(p)}; }
    uint64_t visible() const { return visible_mask(bytes); }
    static uint64_t differing(const Window& x, const Window& y) {
        return ~_mm512_cmpeq_epi8_mask(x.bytes, y.bytes) & (visible_mask(x.bytes) | visible_mask(y.bytes));
    }
    static uint64_t unequal(const Window& x, const Window& y) { return ~_mm512_cmpeq_epi8_mask(x.bytes, y.bytes); }
    static bool identical(const uint8_t* a, const uint8_t* b) {
        using KERNELS_AVX512_NAMESPACE::load;
        return (_mm512_cmpeq_epi8_mask(load(a), load(b)) & _mm512_cmpeq_epi8_mask(load(a + 64), load(b + 64))) ==
               ~uint64_t{0};
    }
};

// The lowest `keep` set bits of mask.
inline uint64_t lowest_set_bits(uint64_t mask, size_t keep) {
    uint64_t rest = mask;
    for (size_t k = 0; k < keep; ++k) rest &= rest - 1;
    return mask & ~rest;
}

}  // namespace

#include "kernels_generic.inc"

Compacted compact_visible(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t i = 0;
    size_t written = 0;
    for (; i + 64 <= n && written < limit; i += 64) {
        const __m512i bytes = load(src + i);
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
    const Compacted rest = scalar::compact_visible(dst + written, src + i, n - i, limit - written);
    return {i + rest.consumed, written + rest.written};
}

}  // namespace kernels::KERNELS_AVX512_NAMESPACE
#ifdef KERNELS_AVX512_TARGETED
KERNELS_TARGET_END
#endif
