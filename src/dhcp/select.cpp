#include "dhcp/select.h"

#include <cstring>

#include "dhcp/frame_layout.h"
#include "dhcp/report.h"
#include "base/output.h"
#include "text/render.h"

namespace dhcpident {

void set_target_mac(capture_run& run, const char* text) {
    const std::size_t length = std::strlen(text);
    if (length > target_mac_max_length) return;
    std::memcpy(run.target_mac, text, length + 1);
    run.target_length = static_cast<std::int16_t>(
        parse_hex_colon_text(text, run.target_bytes, sizeof run.target_bytes));
}

bool from_target(byte_view frame, const capture_run& run) {
    byte_view address;
    if (client_address(frame, locate_headers(frame, run.link_header_len), address) !=
            address_state::captured ||
        static_cast<int>(address.size()) != run.target_length) {
        return false;
    }
    // At most six bytes: a loop here costs less than a call to memcmp.
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address.u8(i) != run.target_bytes[i]) return false;
    }
    return true;
}

void select_and_report(const dhcp_request& request, capture_run& run) {
    if (request.message_type != dhcp_request_type) {
        ++run.processed_count;
        return;
    }
    if (run.pass_index == 0) {
        // The counting pass does not count target requests as processed.
        ++run.first_pass_count;
        return;
    }
    // A capture that grew between the passes holds more target requests in
    // the second: a report then follows every first_pass_count of them.
    if (++run.second_pass_seen == run.first_pass_count) {
        print_report(request, run.format);
        run.second_pass_seen = 0;
    }
    flush_output();
    ++run.processed_count;
}

void handle_frame(byte_view frame, capture_run& run) {
    if (!from_target(frame, run)) {
        ++run.processed_count;
        return;
    }
    // Decoded on the stack: the record and its view of the frame end with
    // the frame.
    dhcp_request request;
    decode_dhcp_request(frame, run.link_header_len, request);
    select_and_report(request, run);
}

}  // namespace dhcpident
