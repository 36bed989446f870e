// The scalar kernels: the reference every vector kernel is tested against, and the routine the
// vector kernels hand their last partial vector to.
#pragma once

#include "kernels.h"

Advanced advance_common_scalar(const uint8_t* a, size_t na, const uint8_t* b, size_t nb);
size_t find_visible_scalar(const uint8_t* p, size_t n);
Compacted compact_visible_scalar(uint8_t* dst, const uint8_t* src, size_t n, size_t limit);
size_t first_mismatch_scalar(const uint8_t* a, const uint8_t* b, size_t n);
