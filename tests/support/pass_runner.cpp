#include "pass_runner.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "capture_memory.h"
#include "reader/capture_pass.h"

namespace testkit {
namespace {

// Hands out the first capture, then the second.
struct pass_captures {
    const std::string* captures[2];
    mutable int opened = 0;
};

pcap_t* open_next(const void* context, char* error_text) {
    const auto& passes = *static_cast<const pass_captures*>(context);
    const std::string& capture = *passes.captures[passes.opened++ % 2];
    const dhcpident::capture_bytes bytes{capture.data(), capture.size()};
    return dhcpident::open_capture_bytes(&bytes, error_text);
}

}  // namespace

pass_result run_passes(const std::string& target, const std::string& first,
                       const std::string& second) {
    dhcpident::start_run(target.c_str(), dhcpident::report_format::text);
    const pass_captures passes{{&first, &second}};
    testing::internal::CaptureStdout();
    dhcpident::run_capture_passes(open_next, &passes);
    std::fflush(stdout);
    std::string out = testing::internal::GetCapturedStdout();
    return {std::move(out), dhcpident::run_state()};
}

}  // namespace testkit
