// Byte kernels of the comparison: pure functions over buffers, one scalar version that defines
// the truth and vector versions chosen at run time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The only bytes the comparison looks at: 0x21 '!' to 0x7E '~'.
constexpr bool is_visible(uint8_t byte) { return static_cast<uint8_t>(byte - 0x21) < 0x5E; }

struct KernelSet {
    const char* name;
    bool (*supported)();  // whether this processor and operating system can run the set
    // Index of the first i < n where a[i] != b[i], or n.
    size_t (*mismatch)(const uint8_t* a, const uint8_t* b, size_t n);
    // Index of the first visible byte of p[0, n), or n.
    size_t (*find_visible)(const uint8_t* p, size_t n);
};

// Every set built into this binary, the scalar reference first.
std::span<const KernelSet> all_kernel_sets();
// The fastest supported set, chosen on first use and kept.
const KernelSet& best_kernel_set();
const KernelSet& scalar_kernel_set();
