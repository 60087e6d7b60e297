// One frame, any bytes, any known link header length: run through both
// capture passes as a one-frame capture, with the target set to the frame's
// own client address so that the report is printed too, in text or JSON,
// and through the one pass of --all.
#include <cstdio>
#include <cstring>
#include <vector>

#include "dhcp/all_clients.h"
#include "dhcp/hash_key.h"
#include "dhcp/select.h"
#include "capture_memory.h"
#include "reader/capture_pass.h"
#include "common/link_type.h"
#include "fuzz_input.h"
#include "text/render.h"

using namespace dhcpident;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reports go nowhere; stdout is not what is tested here.
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const int link_type = fuzz_input::link_type_of(data[0]);
    const byte_view frame(data + 1, size - 1);

    dhcp_request request;
    decode_dhcp_request(frame, *link_header_length(link_type), request);
    const char* text = request.chaddr_captured ? hex_colon_text(request.chaddr) : "";
    // The byte that chose the link type chooses the format too.
    const report_format format = data[0] / fuzz_input::link_type_count % 2 == 0
                                     ? report_format::text
                                     : report_format::json;
    start_run(std::strlen(text) <= target_mac_max_length ? text : "", format);

    const std::vector<std::uint8_t> file = fuzz_input::capture_file_of(data + 1, size - 1, link_type);
    const capture_bytes capture{file.data(), file.size()};
    run_capture_passes(open_capture_bytes, &capture);
    start_run(nullptr, format);
    all_clients clients{create_request_table({4, default_max_memory}, random_hash_key()), false};
    if (clients.table != nullptr &&
        run_all_clients_pass(open_capture_bytes, &capture, clients) == pass_outcome::completed) {
        print_client_reports(*clients.table, format);
    }
    destroy_client_table(clients.table);
    return 0;
}
