// The arm64 vector kernels (NEON, which every arm64 processor has).
#pragma once

#include "kernels.h"

namespace kernels::neon {
#include "kernels_functions.h"
}  // namespace kernels::neon
