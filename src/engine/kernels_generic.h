// The vector kernels written once. A kernel set includes this file inside its namespace and its
// target region, after its Window: `width` bytes (32 or 64) loaded at once, whose masks are
// 64-bit words with bit k for byte k:
//   static Window load(const uint8_t* p);
//   uint64_t visible() const;                                  // the bytes 0x21..0x7E
//   static uint64_t differing(const Window& x, const Window& y);  // unequal, and visible in x or y
//   static uint64_t unequal(const Window& x, const Window& y);
//   static bool identical(const uint8_t* a, const uint8_t* b); // `stretch` bytes equal
// Each kernel handles whole windows and hands the last partial one to the scalar routine.
// Included once per set: no include guard.

size_t find_visible(const uint8_t* p, size_t n) {
    size_t i = 0;
    for (; i + Window::width <= n; i += Window::width)
        if (const uint64_t bits = Window::load(p + i).visible()) return i + static_cast<size_t>(__builtin_ctzll(bits));
    return i + scalar::find_visible(p + i, n - i);
}

namespace {

// From a common place (i, j), whose windows a[i..] and b[j..] hold their first differing byte at
// the lowest bit of `differing`: each side moves to its next visible byte, found in its window's
// mask when the run of invisible bytes ends inside the window, else by find_visible over the rest
// of the side. When both exist and are equal, passes them and returns true; otherwise leaves
// (i, j) at the differing byte, the common place the kernel returns, and returns false.
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

}  // namespace

Advanced advance_common(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
    size_t i = 0;
    size_t resyncs = 0;
    // Identical stretches first, with the fewest instructions; from the first difference on, a
    // window at a time with the visible-byte rule.
    while (i + Window::stretch <= na && i + Window::stretch <= nb && Window::identical(a + i, b + i))
        i += Window::stretch;
    size_t j = i;
    while (i + Window::width <= na && j + Window::width <= nb) {
        const Window x = Window::load(a + i);
        const Window y = Window::load(b + j);
        const uint64_t differing = Window::differing(x, y);
        if (differing == 0) {
            i += Window::width, j += Window::width;
            continue;
        }
        if (!resync_in_window(a, na, b, nb, i, j, differing, x.visible(), y.visible())) return {i, j, resyncs};
        ++resyncs;
    }
    const Advanced rest = scalar::advance_common(a + i, na - i, b + j, nb - j);
    return {i + rest.a, j + rest.b, resyncs + rest.resyncs};
}

size_t first_mismatch(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    for (; i + Window::width <= n; i += Window::width)
        if (const uint64_t differ = Window::unequal(Window::load(a + i), Window::load(b + i)))
            return i + static_cast<size_t>(__builtin_ctzll(differ));
    return i + scalar::first_mismatch(a + i, b + i, n - i);
}
