// The x86-64 vector kernel sets, each compiled for its own instruction set (kernels_target.h) so
// that one binary runs on every x86-64 machine and chooses at run time.
#pragma once

#include "kernels.h"

// The words of CPUID and XGETBV that tell which vector kernels can run.
struct X86Words {
    uint32_t max_leaf = 0;   // CPUID leaf 0, EAX
    uint32_t leaf1_ecx = 0;  // CPUID leaf 1, ECX
    uint32_t leaf7_ebx = 0;  // CPUID leaf 7 subleaf 0, EBX and ECX
    uint32_t leaf7_ecx = 0;
    uint64_t xcr0 = 0;  // XGETBV 0: the register state the operating system saves
};

struct X86Support {
    bool avx2 = false;
    bool avx512 = false;  // with BW and VBMI2
};

// Which kernel sets the words allow: a pure function, tested with a table of processors.
X86Support x86_support(const X86Words& words);
// Whether XGETBV may be executed: elsewhere it is an illegal instruction. Leaf 1's word decides.
bool xcr0_readable(const X86Words& words);
// Reads the words from this processor: each leaf once.
X86Words read_x86_words();

bool avx2_supported();
bool avx512_supported();  // with BW and VBMI2

// The AVX-512 set needs the compiler's VBMI2 intrinsics (the byte compress): g++ 8 and later and
// clang++ 6 and later have them, g++ 7 does not. Without them the set is left out of the build,
// which chooses among the others. (Defined beforehand, as 0, it is left out with any compiler.)
#ifndef FILTERSPACE_AVX512_KERNELS
#if defined(__clang__) ? __clang_major__ >= 6 : __GNUC__ >= 8
#define FILTERSPACE_AVX512_KERNELS 1
#else
#define FILTERSPACE_AVX512_KERNELS 0
#endif
#endif

namespace kernels {
namespace avx2 {
#include "kernels_functions.h"
}  // namespace avx2
}  // namespace kernels

#if FILTERSPACE_AVX512_KERNELS
namespace kernels {
namespace avx512 {
#include "kernels_functions.h"  // NOLINT(readability-duplicate-include): once per kernel set
}  // namespace avx512
}  // namespace kernels
#endif
