// The fixture of the tests that run once per kernel set (tested_kernel_sets()): skipped where
// the processor lacks the set; a write to a closed pipe fails rather than ends the test.
#pragma once

#include <gtest/gtest.h>

#include <csignal>

#include "kernel_sets.h"

class KernelSetTest : public ::testing::TestWithParam<KernelSet> {
protected:
    void SetUp() override {
        if (!GetParam().supported()) GTEST_SKIP() << GetParam().name << " kernels are not supported here";
        signal(SIGPIPE, SIG_IGN);
    }
    const KernelSet& kernels() const { return GetParam(); }
};
