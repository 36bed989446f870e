// AVX2 kernels: windows of 32 bytes. Without a byte compress, compaction packs 8-byte groups by a
// table of shuffles.
#include <immintrin.h>

#include "kernels_pack.h"
#include "kernels_scalar.h"
#include "kernels_target.h"
#include "kernels_x86.h"

KERNELS_TARGET_BEGIN("avx2,bmi,popcnt")
namespace kernels {
namespace avx2 {
namespace {

inline __m256i load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// 0xFF where the byte is visible. Adding 0x5F moves 0x21..0x7E to 0x80..0xDD, the signed bytes
// -128..-35, and every other value above them.
inline __m256i visible_lanes(__m256i bytes) {
    return _mm256_cmpgt_epi8(_mm256_set1_epi8(-34), _mm256_add_epi8(bytes, _mm256_set1_epi8(0x5F)));
}

inline uint64_t bits_of(__m256i lanes) { return static_cast<uint32_t>(_mm256_movemask_epi8(lanes)); }

struct Window {
    static constexpr size_t width = 32;
    static constexpr size_t stretch = 128;
    __m256i bytes;

    static Window load(const uint8_t* p) { return {avx2::load(p)}; }
    uint64_t visible() const { return bits_of(visible_lanes(bytes)); }
    // One mask of the lanes, not three: the common case is no difference at all.
    static uint64_t differing(const Window& x, const Window& y) {
        return bits_of(_mm256_andnot_si256(_mm256_cmpeq_epi8(x.bytes, y.bytes),
                                           _mm256_or_si256(visible_lanes(x.bytes), visible_lanes(y.bytes))));
    }
    static uint64_t unequal(const Window& x, const Window& y) {
        return ~bits_of(_mm256_cmpeq_epi8(x.bytes, y.bytes)) & 0xFFFFFFFF;
    }
    // Adding 0x80 - low moves low..high to the signed bytes from -128 up, everything else above.
    uint64_t in_range(uint8_t low, uint8_t high) const {
        const auto top = static_cast<char>(-128 + (high - low) + 1);
        return bits_of(_mm256_cmpgt_epi8(_mm256_set1_epi8(top),
                                         _mm256_add_epi8(bytes, _mm256_set1_epi8(static_cast<char>(0x80 - low)))));
    }
    static uint64_t gather(uint64_t bits, uint64_t mask) { return gather_bits(bits, mask); }
    static bool identical(const uint8_t* a, const uint8_t* b) {
        __m256i all = _mm256_cmpeq_epi8(avx2::load(a), avx2::load(b));
        for (int k = 32; k < 128; k += 32)
            all = _mm256_and_si256(all, _mm256_cmpeq_epi8(avx2::load(a + k), avx2::load(b + k)));
        return bits_of(all) == 0xFFFFFFFF;
    }
};

// Packs the bytes of the 16-byte group whose mask bits are set to dst; returns the count.
inline size_t pack16(uint8_t* dst, __m128i bytes, uint32_t mask16) {
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

}  // namespace

#include "kernels_generic.inc"

Compacted compact_visible(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t i = 0;
    size_t written = 0;
    // Whole vectors while the limit lies beyond them; the vector that reaches it, like the last
    // partial one, goes to the scalar routine, which stops just after the limit-th byte.
    for (; i + 32 <= n; i += 32) {
        const __m256i bytes = load(src + i);
        const auto mask = static_cast<uint32_t>(bits_of(visible_lanes(bytes)));
        if (written + static_cast<size_t>(__builtin_popcount(mask)) >= limit) break;
        written += pack16(dst + written, _mm256_castsi256_si128(bytes), mask & 0xFFFF);
        written += pack16(dst + written, _mm256_extracti128_si256(bytes, 1), mask >> 16);
    }
    const Compacted rest = scalar::compact_visible(dst + written, src + i, n - i, limit - written);
    return {i + rest.consumed, written + rest.written};
}

}  // namespace avx2
}  // namespace kernels
KERNELS_TARGET_END
