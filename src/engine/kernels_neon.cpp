// NEON kernels (Advanced SIMD, always present on arm64): windows of 64 bytes, four vectors of
// 16, with a 64-bit mask of one bit per byte as the x86 sets have. Without a byte compress,
// compaction packs 8-byte groups by a table lookup.
#include "kernels_neon.h"

#include <arm_neon.h>

#include "kernels_pack.h"
#include "kernels_scalar.h"

namespace kernels {
namespace neon {
namespace {

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

struct Window {
    static constexpr size_t width = 64;
    static constexpr size_t stretch = 64;
    uint8x16_t part[4];

    static Window load(const uint8_t* p) {
        return {{vld1q_u8(p), vld1q_u8(p + 16), vld1q_u8(p + 32), vld1q_u8(p + 48)}};
    }
    uint64_t visible() const {
        return bits_of(visible_lanes(part[0]), visible_lanes(part[1]), visible_lanes(part[2]), visible_lanes(part[3]));
    }
    // The lanes combined first, so that the bits are gathered once.
    static uint64_t differing(const Window& x, const Window& y) {
        uint8x16_t lanes[4];
        for (int k = 0; k < 4; ++k)
            lanes[k] =
                vbicq_u8(vorrq_u8(visible_lanes(x.part[k]), visible_lanes(y.part[k])), vceqq_u8(x.part[k], y.part[k]));
        return bits_of(lanes[0], lanes[1], lanes[2], lanes[3]);
    }
    static uint64_t unequal(const Window& x, const Window& y) {
        return ~bits_of(vceqq_u8(x.part[0], y.part[0]), vceqq_u8(x.part[1], y.part[1]), vceqq_u8(x.part[2], y.part[2]),
                        vceqq_u8(x.part[3], y.part[3]));
    }
    uint64_t in_range(uint8_t low, uint8_t high) const {
        uint8x16_t lanes[4];
        for (int k = 0; k < 4; ++k)
            lanes[k] = vcltq_u8(vsubq_u8(part[k], vdupq_n_u8(low)), vdupq_n_u8(static_cast<uint8_t>(high - low + 1)));
        return bits_of(lanes[0], lanes[1], lanes[2], lanes[3]);
    }
    static uint64_t gather(uint64_t bits, uint64_t mask) { return gather_bits(bits, mask); }
    // Cheaper than a mask: the lanes' minimum.
    static bool identical(const uint8_t* a, const uint8_t* b) {
        const Window x = load(a), y = load(b);
        const uint8x16_t all = vandq_u8(vandq_u8(vceqq_u8(x.part[0], y.part[0]), vceqq_u8(x.part[1], y.part[1])),
                                        vandq_u8(vceqq_u8(x.part[2], y.part[2]), vceqq_u8(x.part[3], y.part[3])));
        return vminvq_u8(all) == 0xFF;
    }
};

}  // namespace

#include "kernels_generic.inc"

Compacted compact_visible(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t i = 0;
    size_t written = 0;
    // Whole windows while the limit lies beyond them; the window that reaches it, like the last
    // partial one, goes to the scalar routine, which stops just after the limit-th byte. Each
    // 8-byte group is packed by a table lookup and stored whole: dst has room past the limit.
    for (; i + 64 <= n; i += 64) {
        const Window w = Window::load(src + i);
        const uint64_t mask = w.visible();
        if (written + static_cast<size_t>(__builtin_popcountll(mask)) >= limit) break;
        for (int group = 0; group < 8; ++group) {
            const unsigned bits = static_cast<unsigned>(mask >> (8 * group)) & 0xFF;
            const uint8x8_t bytes = group % 2 == 0 ? vget_low_u8(w.part[group / 2]) : vget_high_u8(w.part[group / 2]);
            vst1_u8(dst + written, vtbl1_u8(bytes, vcreate_u8(pack_table[bits])));
            written += static_cast<size_t>(__builtin_popcount(bits));
        }
    }
    const Compacted rest = scalar::compact_visible(dst + written, src + i, n - i, limit - written);
    return {i + rest.consumed, written + rest.written};
}

}  // namespace neon
}  // namespace kernels
