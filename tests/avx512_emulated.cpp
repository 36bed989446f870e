// The AVX-512 kernels compiled against a portable rendering of their intrinsics, so that their
// logic is tested on machines without AVX-512 as well.
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/x86/avx512.h>

#include <cstdint>

// VPCOMPRESSB with zeroing, which the portable library lacks: the bytes whose mask bit is set,
// packed to the front in order, zeros after them.
static inline simde__m512i _mm512_maskz_compress_epi8(uint64_t mask, simde__m512i bytes) {
    uint8_t in[64], out[64] = {};
    simde_mm512_storeu_si512(in, bytes);
    int packed = 0;
    for (int lane = 0; lane < 64; ++lane)
        if (mask >> lane & 1) out[packed++] = in[lane];
    return simde_mm512_loadu_si512(out);
}

#include "kernels_scalar.h"
#include "kernels_x86.h"

// The same source as the real set, in a namespace of its own and without a target.
namespace kernels::avx512_emulated {
#include "kernels_avx512.inc"
#include "kernels_generic.inc"
}  // namespace kernels::avx512_emulated

namespace {
bool always() { return true; }
}  // namespace

extern const KernelSet avx512_emulated_kernel_set;
const KernelSet avx512_emulated_kernel_set = KERNEL_SET_ENTRY(avx512_emulated, always, 24);
