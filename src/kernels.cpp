#include "kernels.h"

#include "kernels_scalar.h"

namespace {

bool always() { return true; }

constexpr KernelSet kernel_sets[] = {
    {"scalar", always, mismatch_scalar, find_visible_scalar},
};

}  // namespace

std::span<const KernelSet> all_kernel_sets() { return kernel_sets; }

const KernelSet& scalar_kernel_set() { return kernel_sets[0]; }

const KernelSet& best_kernel_set() {
    // Later entries are faster; the first supported one from the end wins.
    static const KernelSet* const best = [] {
        for (size_t i = std::size(kernel_sets); i-- > 1;)
            if (kernel_sets[i].supported()) return &kernel_sets[i];
        return &kernel_sets[0];
    }();
    return *best;
}
