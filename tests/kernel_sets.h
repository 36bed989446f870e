// The kernel sets as GoogleTest parameters (the sets themselves: rule_oracle.h).
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "rule_oracle.h"

inline void PrintTo(const KernelSet& set, std::ostream* os) { *os << set.name; }

inline std::string kernel_set_name(const testing::TestParamInfo<KernelSet>& info) { return info.param.name; }
