#include "dhcp/select.h"

#include <cstdio>
#include <cstring>

#include "dhcp/frame_layout.h"
#include "driver/output.h"
#include "fingerprint/fingerprint.h"
#include "text/render.h"

namespace dhcpident {
namespace {

constexpr std::uint8_t dhcp_request_type = 3;  // DHCPREQUEST, RFC 2132 option 53
constexpr std::size_t remote_id_printed_bytes = 6;

bool is_target_request(const dhcp_request& request, const capture_run& run) {
    return request.chaddr_captured && request.message_type == dhcp_request_type &&
           std::strcmp(hex_colon_text(request.chaddr), run.target_mac) == 0;
}

bool all_zero(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

// Values are written as they are, without escaping; the option82 line is
// the one line not of the form key='value'.
void print_report(const dhcp_request& request) {
    std::printf("mac='%s'\n", hex_colon_text(request.chaddr));
    if (request.vlan_id != 0) {
        std::printf("VLAN='%u'\n", static_cast<unsigned>(request.vlan_id));
    } else {
        std::fputs("\n", stdout);  // the line stays, empty
    }
    // Without a table match the lookup prints the dhcpvendor line itself.
    const char* fingerprint =
        lookup_fingerprint(initial_ttl_class(request.ip_ttl), request.option_codes,
                           request.parameter_list, request.vendor_class);
    std::printf("fingerprint='%s'\n", fingerprint);
    if (request.hostname[0] != '\0') std::printf("hostname='%s'\n", request.hostname);
    if (!all_zero(request.req_ipaddr, sizeof request.req_ipaddr)) {
        std::printf("req_ipaddr='%s'\n", dotted_quad_text(request.req_ipaddr));
    }
    // A remote-id whose first byte is 0 counts as absent, whatever follows.
    if (request.remote_id[0] != '\0') {
        const byte_view remote_id(reinterpret_cast<const std::uint8_t*>(request.remote_id),
                                  remote_id_printed_bytes);
        std::printf("option82=remote_id %s circuit_id vlan %u unit %u port %u\n",
                    hex_colon_text(remote_id), static_cast<unsigned>(request.circuit_vlan),
                    static_cast<unsigned>(request.circuit_unit),
                    static_cast<unsigned>(request.circuit_port));
    }
    std::fputs("\n", stdout);
}

}  // namespace

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
    if (!is_target_request(request, run)) {
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
        print_report(request);
        run.second_pass_seen = 0;
    }
    flush_output();
    ++run.processed_count;
}

void handle_packet(u_char*, const pcap_pkthdr* header, const u_char* bytes) {
    const byte_view frame(bytes, header->caplen);
    // Only the target's requests change more than processed_count, and
    // nearly every frame is from another client or no DHCP at all: the
    // client address alone tells, without decoding the rest.
    if (!from_target(frame, the_run)) {
        ++the_run.processed_count;
        return;
    }
    // Decoded on the stack: the record and its view of the frame end with
    // the frame.
    dhcp_request request;
    decode_dhcp_request(frame, the_run.link_header_len, request);
    select_and_report(request, the_run);
}

}  // namespace dhcpident
