// The program's two capture passes, run in the test process over captures
// held in memory.
#pragma once

#include <string>

namespace testkit {

// Runs the program's two capture passes in this process over the_run, the
// first over first and the second over second (a capture that grew between
// the passes), with the target set to target and everything else reset.
// Returns what the passes wrote to stdout.
std::string run_passes(const std::string& target, const std::string& first,
                       const std::string& second);
inline std::string run_passes(const std::string& target, const std::string& capture) {
    return run_passes(target, capture, capture);
}

}  // namespace testkit
