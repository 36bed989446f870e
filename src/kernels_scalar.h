// The scalar kernels: the reference every vector kernel is tested against, and the tail
// routine the vector kernels hand their last partial vector to.
#pragma once

#include "kernels.h"

size_t mismatch_scalar(const uint8_t* a, const uint8_t* b, size_t n);
size_t find_visible_scalar(const uint8_t* p, size_t n);
