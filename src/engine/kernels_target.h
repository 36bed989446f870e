// Compiles the functions between KERNELS_TARGET_BEGIN(features) and KERNELS_TARGET_END for an
// instruction set (as per-function target attributes would), the templates and the functions of
// included files among them: one binary carries every set and chooses at run time.
#pragma once

#define KERNELS_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define KERNELS_TARGET_BEGIN(features) \
    KERNELS_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define KERNELS_TARGET_END KERNELS_PRAGMA(clang attribute pop)
#else
#define KERNELS_TARGET_BEGIN(features) KERNELS_PRAGMA(GCC push_options) KERNELS_PRAGMA(GCC target(features))
#define KERNELS_TARGET_END KERNELS_PRAGMA(GCC pop_options)
#endif
