// NEON kernels (Advanced SIMD, always present on arm64): windows of 64 bytes, four vectors of
// 16, with a 64-bit mask of one bit per byte as the x86 sets have; the last partial window goes
// to the scalar routine.
#include "kernels_neon.h"

#include <arm_neon.h>

#include "kernels_pack.h"
#include "kernels_resync.h"
#include "kernels_scalar.h"

namespace {

struct Window {
    uint8x16_t part[4];
};

inline Window load_window(const uint8_t* p) {
    return {{vld1q_u8(p), vld1q_u8(p + 16), vld1q_u8(p + 32), vld1q_u8(p + 48)}};
}

// 0xFF where the byte is visible: byte - 0x21 < 0x5E, unsigned.
inline uint8x16_t visible_lanes(uint8x16_t bytes) {
    return vcltq_u8(vsubq_u8(bytes, vdupq_n_u8(0x21)), vdupq_n_u8(0x5E));
}

// One bit per byte of four lane masks (0x00 or 0xFF each), byte k of the window at bit k.
inline uint64_t bits_of(uint8x16_t m0, uint8x16_t m1, uint8x16_t m2, uint8x16_t m3) {
    const uint8x16_t weights = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const uint8x16_t sum01 = vpaddq_u8(vandq_u8(m0, weights), vandq_u8(m1, weights));
    const uint8x16_t sum23 = vpaddq_u8(vandq_u8(m2, weights), vandq_u8(m3, weights));
    const uint8x16_t sum = vpaddq_u8(sum01, sum23);
    return vgetq_lane_u64(vreinterpretq_u64_u8(vpaddq_u8(sum, sum)), 0);
}

inline uint64_t visible_bits(const Window& w) {
    return bits_of(visible_lanes(w.part[0]), visible_lanes(w.part[1]), visible_lanes(w.part[2]),
                   visible_lanes(w.part[3]));
}

// Bit k set where byte k of the two windows is equal.
inline uint64_t equal_bits(const Window& x, const Window& y) {
    return bits_of(vceqq_u8(x.part[0], y.part[0]), vceqq_u8(x.part[1], y.part[1]), vceqq_u8(x.part[2], y.part[2]),
                   vceqq_u8(x.part[3], y.part[3]));
}

// Whether the 64 bytes at a and b are equal, cheaper than their mask.
inline bool equal64(const uint8_t* a, const uint8_t* b) {
    const Window x = load_window(a), y = load_window(b);
    const uint8x16_t all = vandq_u8(vandq_u8(vceqq_u8(x.part[0], y.part[0]), vceqq_u8(x.part[1], y.part[1])),
                                    vandq_u8(vceqq_u8(x.part[2], y.part[2]), vceqq_u8(x.part[3], y.part[3])));
    return vminvq_u8(all) == 0xFF;
}

}  // namespace

size_t find_visible_neon(const uint8_t* p, size_t n) {
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        if (const uint64_t bits = visible_bits(load_window(p + i)))
            return i + static_cast<size_t>(__builtin_ctzll(bits));
    return i + find_visible_scalar(p + i, n - i);
}

Advanced advance_common_neon(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
    size_t i = 0;
    size_t j = 0;
    size_t resyncs = 0;
    // Identical stretches first, with the fewest instructions; from the first difference on, a
    // window at a time with the visible-byte rule.
    while (i + 64 <= na && i + 64 <= nb && equal64(a + i, b + i)) i += 64;
    j = i;
    while (i + 64 <= na && j + 64 <= nb) {
        const Window x = load_window(a + i);
        const Window y = load_window(b + j);
        const uint64_t x_visible = visible_bits(x);
        const uint64_t y_visible = visible_bits(y);
        const uint64_t differing = ~equal_bits(x, y) & (x_visible | y_visible);
        if (differing == 0) {
            i += 64, j += 64;
            continue;
        }
        if (!resync_in_window<find_visible_neon>(a, na, b, nb, i, j, differing, x_visible, y_visible))
            return {i, j, resyncs};
        ++resyncs;
    }
    const Advanced rest = advance_common_scalar(a + i, na - i, b + j, nb - j);
    return {i + rest.a, j + rest.b, resyncs + rest.resyncs};
}

Compacted compact_visible_neon(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t i = 0;
    size_t written = 0;
    // Whole windows while the limit lies beyond them; the window that reaches it, like the last
    // partial one, goes to the scalar routine, which stops just after the limit-th byte. Each
    // 8-byte group is packed by a table lookup and stored whole: dst has room past the limit.
    for (; i + 64 <= n; i += 64) {
        const Window w = load_window(src + i);
        const uint64_t mask = visible_bits(w);
        if (written + static_cast<size_t>(__builtin_popcountll(mask)) >= limit) break;
        for (int group = 0; group < 8; ++group) {
            const unsigned bits = static_cast<unsigned>(mask >> (8 * group)) & 0xFF;
            const uint8x8_t bytes = group % 2 == 0 ? vget_low_u8(w.part[group / 2]) : vget_high_u8(w.part[group / 2]);
            vst1_u8(dst + written, vtbl1_u8(bytes, vcreate_u8(pack_table[bits])));
            written += static_cast<size_t>(__builtin_popcount(bits));
        }
    }
    const Compacted rest = compact_visible_scalar(dst + written, src + i, n - i, limit - written);
    return {i + rest.consumed, written + rest.written};
}

size_t first_mismatch_neon(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + 64 <= n; i += 64)
        if (const uint64_t equal = equal_bits(load_window(a + i), load_window(b + i)); equal != ~uint64_t{0})
            return i + static_cast<size_t>(__builtin_ctzll(~equal));
    return i + first_mismatch_scalar(a + i, b + i, n - i);
}
