// The scalar kernels: the reference every vector kernel is tested against, and the routines the
// vector kernels hand their last partial window to.
#pragma once

#include "kernels.h"

namespace kernels {
namespace scalar {
#include "kernels_functions.h"
}  // namespace scalar
}  // namespace kernels
