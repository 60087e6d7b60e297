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

// A row of an end-to-end table: a run of the program and what it gives.
// With prefixes, the run's stdout and stderr need only begin with out and
// err, and are empty exactly when those are (texts that go on with
// libpcap's words, or with a whole usage).
struct run_row {
    const char* name;
    program_setup setup;
    std::string out;
    std::string err;
    int status;
    bool prefixes = false;
};

inline void expect_rows(const std::vector<run_row>& rows) {
    for (const run_row& row : rows) {
        const program_result r = run_program(row.setup);
        if (row.prefixes) {
            EXPECT_EQ(r.out.substr(0, row.out.size()), row.out) << row.name;
            EXPECT_EQ(r.err.substr(0, row.err.size()), row.err) << row.name;
            EXPECT_EQ(r.out.empty(), row.out.empty()) << row.name;
            EXPECT_EQ(r.err.empty(), row.err.empty()) << row.name;
        } else {
            EXPECT_EQ(r.out, row.out) << row.name;
            EXPECT_EQ(r.err, row.err) << row.name;
        }
        EXPECT_EQ(r.status, row.status) << row.name;
    }
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
