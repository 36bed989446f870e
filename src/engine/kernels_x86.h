// The x86-64 vector kernels, each built with its own target attributes so that one binary runs on
// every x86-64 machine and chooses at run time.
#pragma once

#include "kernels.h"

bool avx2_supported();
Advanced advance_common_avx2(const uint8_t* a, size_t na, const uint8_t* b, size_t nb);
size_t find_visible_avx2(const uint8_t* p, size_t n);
Compacted compact_visible_avx2(uint8_t* dst, const uint8_t* src, size_t n, size_t limit);

bool avx512_supported();
size_t find_visible_avx512(const uint8_t* p, size_t n);
Advanced advance_common_avx512(const uint8_t* a, size_t na, const uint8_t* b, size_t nb);
Compacted compact_visible_avx512(uint8_t* dst, const uint8_t* src, size_t n, size_t limit);
