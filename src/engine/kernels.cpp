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
    // The crossovers to compaction are measured by the benchmark's crossover table (doc/speed.md
    // gives its figures): where a set's resyncs after each difference come to cost more than
    // compacting both sides. The scalar compaction never wins.
    KERNEL_SET_ENTRY(scalar, always, 0),
#if defined(__x86_64__)
    KERNEL_SET_ENTRY(avx2, avx2_supported, 56),
// With vpcompressb, compaction costs about as much as passing identical bytes: the set
// compacts from the first difference on.
#if FILTERSPACE_AVX512_KERNELS
    KERNEL_SET_ENTRY(avx512, avx512_supported, size_t{1} << 20),
#endif
#elif defined(__aarch64__)
    // Not measured: no arm64 machine has run the benchmark's crossover table yet.
    KERNEL_SET_ENTRY(neon, always, 24),
#endif
};

}  // namespace

KernelSets all_kernel_sets() { return {kernel_sets, sizeof kernel_sets / sizeof kernel_sets[0]}; }

const KernelSet& choose_kernel_set(KernelSets sets) {
    size_t i = sets.size() - 1;
    while (i > 0 && !sets[i].supported()) --i;
    return sets[i];
}

const KernelSet& best_kernel_set() {
    // Chosen on first use and kept. Threads that race to choose choose the same set, so relaxed
    // atomic loads and stores do, without the guard (and the exception support it pulls in) of a
    // static initialised on first use, or <atomic> (which the commands' musl build cannot take).
    static const KernelSet* best = nullptr;
    const KernelSet* chosen = __atomic_load_n(&best, __ATOMIC_RELAXED);
    if (chosen == nullptr) {
        chosen = &choose_kernel_set(all_kernel_sets());
        __atomic_store_n(&best, chosen, __ATOMIC_RELAXED);
    }
    return *chosen;
}
