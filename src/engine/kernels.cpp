#include "kernels.h"

#include "kernels_scalar.h"
#if defined(__x86_64__)
#include "kernels_x86.h"
#elif defined(__aarch64__)
#include "kernels_neon.h"
#endif

namespace {

bool always() { return true; }

constexpr KernelSet kernel_sets[] = {
    {"scalar", always, advance_common_scalar, find_visible_scalar, compact_visible_scalar, first_mismatch_scalar, 24},
#if defined(__x86_64__)
    {"avx2", avx2_supported, advance_common_avx2, find_visible_avx2, compact_visible_avx2, first_mismatch_avx2, 24},
    {"avx512", avx512_supported, advance_common_avx512, find_visible_avx512, compact_visible_avx512,
     first_mismatch_avx512, 24},
#elif defined(__aarch64__)
    {"neon", always, advance_common_neon, find_visible_neon, compact_visible_neon, first_mismatch_neon, 24},
#endif
};

}  // namespace

std::span<const KernelSet> all_kernel_sets() { return kernel_sets; }

const KernelSet& best_kernel_set() {
    // Chosen once. The engine runs on one thread, so a plain pointer does, without the guard
    // (and the exception support it pulls in) of a static initialised on first use.
    static const KernelSet* best = nullptr;
    if (best == nullptr) {
        // Later entries are faster; the first supported one from the end wins.
        size_t i = std::size(kernel_sets) - 1;
        while (i > 0 && !kernel_sets[i].supported()) --i;
        best = &kernel_sets[i];
    }
    return *best;
}
