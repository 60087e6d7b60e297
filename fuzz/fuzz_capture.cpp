// A whole capture file, any bytes, through both passes of the capture
// driver. The file is read from memory: the program's fixed path and its
// privilege drop stay out of the fuzzer.
#include <cstdio>

#include "dhcp/select.h"
#include "driver/capture_memory.h"
#include "driver/capture_pass.h"

using namespace dhcpident;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr ||
           std::freopen("/dev/null", "w", stderr) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    the_run = capture_run{};
    set_target_mac(the_run, "00:1a:2b:3c:4d:5e");
    const capture_bytes capture{data, size};
    run_capture_passes(open_capture_bytes, &capture);
    return 0;
}
