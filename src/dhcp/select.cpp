#include "dhcp/select.h"

#include <cstring>

#include "base/output.h"
#include "dhcp/report.h"
#include "dhcp/request.h"
#include "text/render.h"

namespace dhcpident {

void set_target_mac(capture_run& run, const char* text) {
    // A longer text names no address the target can be compared with.
    run.target_length = -1;
    if (std::strlen(text) > target_mac_max_length) return;
    run.target_length = static_cast<std::int16_t>(
        parse_hex_colon_text(text, run.target_bytes, sizeof run.target_bytes));
}

bool is_target(byte_view address, const capture_run& run) {
    if (static_cast<int>(address.size()) != run.target_length) return false;
    // At most six bytes: a loop here costs less than a call to memcmp.
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address.u8(i) != run.target_bytes[i]) return false;
    }
    return true;
}

void select_and_report(const dhcp_request& request, capture_run& run) {
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
    byte_view address;
    if (!is_dhcp_request_from(
            frame, run.link_header_len, [&](byte_view a) { return is_target(a, run); }, address)) {
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
