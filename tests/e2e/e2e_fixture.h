// Base fixture of the end-to-end suites: runs its tests only where the
// program can be run as root in a mount namespace.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "program_runner.h"

namespace e2e {

class EndToEndTest : public testing::Test {
protected:
    static void SetUpTestSuite() { unavailable_ = end_to_end_unavailable(); }
    void SetUp() override {
        // CI runs as root with namespaces: there a skip would hide a fault.
        if (!unavailable_.empty() && std::getenv("CI") != nullptr) FAIL() << unavailable_;
        if (!unavailable_.empty()) GTEST_SKIP() << unavailable_;
    }
    static inline std::string unavailable_;
};

}  // namespace e2e
