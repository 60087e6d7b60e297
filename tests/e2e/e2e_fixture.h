// Base fixture of the end-to-end suites: runs its tests only where the
// program can be run as root in a mount namespace.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "program_runner.h"

namespace e2e {

// The client the captures of the suites are built around.
inline constexpr char target[] = "00:1a:2b:3c:4d:5e";

class EndToEndTest : public testing::Test {
public:
    static program_setup with_capture(std::string capture,
                                      std::vector<std::string> args = {target}) {
        program_setup s;
        s.capture = std::move(capture);
        s.args = std::move(args);
        return s;
    }

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
