// The resync step the vector advance kernels share, given the bit masks of a window of bytes.
#pragma once

#include "kernels.h"

// From a common place (i, j), whose window of bytes a[i..] and b[j..] holds its first differing
// byte at the lowest bit of `differing`: each side moves to its next visible byte, found in its
// window's mask when the run of invisible bytes ends inside the window, else by find_visible over
// the rest of the side. When both exist and are equal, passes them and returns true; otherwise
// leaves (i, j) at the differing byte, the common place the kernel returns, and returns false.
template <size_t (*find_visible)(const uint8_t*, size_t)>
inline bool resync_in_window(const uint8_t* a, size_t na, const uint8_t* b, size_t nb, size_t& i, size_t& j,
                             uint64_t differing, uint64_t a_visible, uint64_t b_visible) {
    const int at = __builtin_ctzll(differing);
    const uint64_t a_ahead = a_visible >> at;
    const uint64_t b_ahead = b_visible >> at;
    i += static_cast<size_t>(at);
    j += static_cast<size_t>(at);
    const size_t next_a =
        i + (a_ahead != 0 ? static_cast<size_t>(__builtin_ctzll(a_ahead)) : find_visible(a + i, na - i));
    const size_t next_b =
        j + (b_ahead != 0 ? static_cast<size_t>(__builtin_ctzll(b_ahead)) : find_visible(b + j, nb - j));
    if (next_a == na || next_b == nb || a[next_a] != b[next_b]) return false;
    i = next_a + 1;
    j = next_b + 1;
    return true;
}
