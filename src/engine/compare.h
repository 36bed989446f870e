// The comparison engine: reads two descriptors side by side and decides whether their visible
// bytes match. It never prints and never ends the process; the driver turns its result into a
// verdict.
#pragma once

#include <cstddef>

#include "kernels.h"

// How much the engine asks of each read(); a test cuts inputs around it.
inline constexpr size_t engine_block_size = size_t{256} << 10;

enum class Comparison {
    same,            // both ended with the same visible bytes
    differ,          // the first difference was met
    out_unreadable,  // a read of the player's output failed
    ans_unreadable,  // a read of the standard answer failed
};

// Reads each descriptor in blocks, as its bytes arrive, and stops at the first difference.
// Memory is the engine's fixed buffers, whatever the inputs' sizes.
Comparison compare_visible(int out_fd, int ans_fd, const KernelSet& kernels = best_kernel_set());
