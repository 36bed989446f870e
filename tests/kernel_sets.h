// The kernel sets the engine's tests and the fuzzer try, and their names as test parameters.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "kernels.h"

#ifdef TEST_AVX512_EMULATED
extern const KernelSet avx512_emulated_kernel_set;
#endif

// Every set built into the engine and, where the portable intrinsics library is at hand, the
// AVX-512 kernels rendered with it.
inline std::vector<KernelSet> tested_kernel_sets() {
    std::vector<KernelSet> sets(all_kernel_sets().begin(), all_kernel_sets().end());
#ifdef TEST_AVX512_EMULATED
    sets.push_back(avx512_emulated_kernel_set);
#endif
    return sets;
}

inline void PrintTo(const KernelSet& set, std::ostream* os) { *os << set.name; }

template <class ParamInfo>
std::string kernel_set_name(const ParamInfo& info) {
    return info.param.name;
}
