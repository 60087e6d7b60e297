// Base fixture of the end-to-end suites: runs its tests only where the
// program can be run as root in a mount namespace.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "program_runner.h"

namespace e2e {

// The client the captures of the suites are built around.
inline constexpr char target[] = "00:1a:2b:3c:4d:5e";

// The names of the shared capture corpus's files, sorted, every every-th
// of them; none when there is no corpus.
inline std::vector<std::string> corpus_names(std::size_t every = 1) {
    std::vector<std::string> names, picked;
    if (DIR* dir = opendir(DHCPIDENT_CAPTURES)) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (std::size_t i = 0; i < names.size(); i += every) picked.push_back(names[i]);
    return picked;
}

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
