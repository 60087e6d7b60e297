// The program's two capture passes, run in the test process over captures
// held in memory.
#pragma once

#include <string>

#include "dhcp/select.h"

namespace testkit {

struct pass_result {
    std::string out;            // what the passes wrote to stdout
    dhcpident::capture_run run;  // the run state they left: the counts
};

// Runs the program's two capture passes in this process, the first over
// first and the second over second (a capture that grew between the
// passes), on a fresh run for target.
pass_result run_passes(const std::string& target, const std::string& first,
                       const std::string& second);
inline pass_result run_passes(const std::string& target, const std::string& capture) {
    return run_passes(target, capture, capture);
}

}  // namespace testkit
