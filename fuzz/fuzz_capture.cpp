// A whole capture file, any bytes, through both passes of the capture
// driver. The file is read from memory: the program's fixed path and its
// privilege drop stay out of the fuzzer.
#include <cstdio>
#include <cstring>

#include "driver/capture_pass.h"
#include "driver/capture_run.h"

using namespace dhcpident;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    the_run = capture_run{};
    set_target_mac("00:1a:2b:3c:4d:5e");
    for (std::int32_t pass = 0; pass < 2; ++pass) {
        the_run.pass_index = pass;
        std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
        if (file == nullptr) return 0;
        char error_text[PCAP_ERRBUF_SIZE];
        pcap_t* capture = pcap_fopen_offline(file, error_text);
        if (capture == nullptr) {
            std::fclose(file);
            return 0;
        }
        run_opened_capture(capture);  // closes the capture and the file
    }
    return 0;
}
