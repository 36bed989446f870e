// The arm64 vector kernels (NEON, which every arm64 processor has).
#pragma once

#include "kernels.h"

namespace kernels {
namespace neon {
#include "kernels_functions.h"
}  // namespace neon
}  // namespace kernels
