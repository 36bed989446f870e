// The arm64 vector kernels (NEON, which every arm64 processor has).
#pragma once

#include "kernels.h"

Advanced advance_common_neon(const uint8_t* a, size_t na, const uint8_t* b, size_t nb);
size_t find_visible_neon(const uint8_t* p, size_t n);
Compacted compact_visible_neon(uint8_t* dst, const uint8_t* src, size_t n, size_t limit);
size_t first_mismatch_neon(const uint8_t* a, const uint8_t* b, size_t n);
