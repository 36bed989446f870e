#include "kernels_scalar.h"

namespace kernels::scalar {

size_t find_visible(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && !is_visible(p[i])) ++i;
    return i;
}

Advanced advance_common(const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
    size_t i = 0;
    size_t j = 0;
    size_t resyncs = 0;
    while (i < na && j < nb) {
        if (a[i] == b[j] || (!is_visible(a[i]) && !is_visible(b[j]))) {
            ++i, ++j;
            continue;
        }
        const size_t next_a = i + find_visible(a + i, na - i);
        const size_t next_b = j + find_visible(b + j, nb - j);
        if (next_a == na || next_b == nb || a[next_a] != b[next_b]) break;
        i = next_a + 1;
        j = next_b + 1;
        ++resyncs;
    }
    return {i, j, resyncs};
}

Compacted compact_visible(uint8_t* dst, const uint8_t* src, size_t n, size_t limit) {
    size_t written = 0;
    size_t i = 0;
    for (; i < n && written < limit; ++i)
        if (is_visible(src[i])) dst[written++] = src[i];
    return {i, written};
}

size_t first_mismatch(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

}  // namespace kernels::scalar
