// One frame, any bytes, any known link header length: decoded and passed
// through the selection in both passes, with the target set to the frame's
// own client address so that the report is printed too.
#include <cstdio>
#include <cstring>

#include "dhcp/select.h"
#include "driver/capture_run.h"
#include "driver/link_type.h"
#include "fuzz_input.h"
#include "text/render.h"

using namespace dhcpident;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reports go nowhere; stdout is not what is tested here.
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::uint8_t* frame = data + 1;
    const auto captured = static_cast<std::uint32_t>(size - 1);

    the_run = capture_run{};
    the_run.link_header_len = *link_header_length(fuzz_input::link_type_of(data[0]));

    dhcp_request request;
    decode_dhcp_request(frame, captured, the_run.link_header_len, request);
    if (request.chaddr_captured) {
        const char* text = hex_colon_text(request.chaddr.data(),
                                          static_cast<std::uint8_t>(request.chaddr.size()));
        if (std::strlen(text) <= target_mac_max_length) set_target_mac(text);
    }
    pcap_pkthdr header{};
    header.caplen = header.len = captured;
    for (std::int32_t pass = 0; pass < 2; ++pass) {
        the_run.pass_index = pass;
        handle_packet(nullptr, &header, frame);
    }
    return 0;
}
