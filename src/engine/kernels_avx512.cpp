// AVX-512 kernels (BW for byte masks, VBMI2 for the byte compress): windows of 64 bytes.
#include <immintrin.h>

#include "kernels_scalar.h"
#include "kernels_target.h"
#include "kernels_x86.h"

#if FILTERSPACE_AVX512_KERNELS
KERNELS_TARGET_BEGIN("avx512f,avx512bw,avx512vbmi2,popcnt")
namespace kernels {
namespace avx512 {
#include "kernels_avx512.inc"
#include "kernels_generic.inc"
}  // namespace avx512
}  // namespace kernels
KERNELS_TARGET_END
#endif
