// The kernel sets the tests run: every set built into the engine, and, where the portable
// intrinsics library is at hand, the AVX-512 kernels rendered with it.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "kernels.h"

#ifdef TEST_AVX512_EMULATED
extern const KernelSet avx512_emulated_kernel_set;
#endif

inline std::vector<KernelSet> tested_kernel_sets() {
    std::vector<KernelSet> sets(all_kernel_sets().begin(), all_kernel_sets().end());
#ifdef TEST_AVX512_EMULATED
    sets.push_back(avx512_emulated_kernel_set);
#endif
    return sets;
}

inline void PrintTo(const KernelSet& set, std::ostream* os) { *os << set.name; }

inline std::string kernel_set_name(const testing::TestParamInfo<KernelSet>& info) { return info.param.name; }
