#include "kernels_scalar.h"

size_t mismatch_scalar(const uint8_t* a, const uint8_t* b, size_t n) {
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

size_t find_visible_scalar(const uint8_t* p, size_t n) {
    size_t i = 0;
    while (i < n && !is_visible(p[i])) ++i;
    return i;
}
