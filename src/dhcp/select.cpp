#include "dhcp/select.h"

#include <cstdio>
#include <cstring>

#include "dhcp/frame_layout.h"
#include "driver/capture_run.h"
#include "driver/output.h"
#include "fingerprint/fingerprint.h"
#include "text/render.h"

namespace dhcpident {
namespace {

constexpr std::uint8_t dhcp_request_type = 3;  // DHCPREQUEST, RFC 2132 option 53
constexpr std::uint8_t remote_id_printed_bytes = 6;

// One record for the process: frames are handled one at a time, and a
// kilobyte-sized record has no place on a small device's stack per frame.
dhcp_request frame_request;

// chaddr covers hlen bytes whenever it was captured, and is empty otherwise.
const char* client_address_text(const dhcp_request& request) {
    return hex_colon_text(request.chaddr.data(), static_cast<std::uint8_t>(request.chaddr.size()));
}

bool is_target_request(const dhcp_request& request) {
    return request.chaddr_captured && request.message_type == dhcp_request_type &&
           std::strcmp(client_address_text(request), the_run.target_mac) == 0;
}

// Whether the frame's client address is the target's, compared as bytes:
// the same answer as comparing its text with target_mac.
bool from_target(byte_view frame) {
    byte_view address;
    if (!client_address(frame, locate_headers(frame, the_run.link_header_len), address) ||
        static_cast<int>(address.size()) != the_run.target_length) {
        return false;
    }
    // At most six bytes: a loop here costs less than a call to memcmp.
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (address.u8(i) != the_run.target_bytes[i]) return false;
    }
    return true;
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
    std::printf("mac='%s'\n", client_address_text(request));
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
        std::printf("option82=remote_id %s circuit_id vlan %u unit %u port %u\n",
                    hex_colon_text(reinterpret_cast<const std::uint8_t*>(request.remote_id),
                                   remote_id_printed_bytes),
                    static_cast<unsigned>(request.circuit_vlan),
                    static_cast<unsigned>(request.circuit_unit),
                    static_cast<unsigned>(request.circuit_port));
    }
    std::fputs("\n", stdout);
}

}  // namespace

void select_and_report(const dhcp_request& request) {
    if (!is_target_request(request)) {
        ++the_run.processed_count;
        return;
    }
    if (the_run.pass_index == 0) {
        // The counting pass does not count target requests as processed.
        ++the_run.first_pass_count;
        return;
    }
    // A capture that grew between the passes holds more target requests in
    // the second: a report then follows every first_pass_count of them.
    if (++the_run.second_pass_seen == the_run.first_pass_count) {
        print_report(request);
        the_run.second_pass_seen = 0;
    }
    flush_output();
    ++the_run.processed_count;
}

void handle_packet(u_char*, const pcap_pkthdr* header, const u_char* bytes) {
    // Only the target's requests change more than processed_count, and
    // nearly every frame is from another client or no DHCP at all: the
    // client address alone tells, without decoding the rest.
    if (!from_target(byte_view(bytes, header->caplen))) {
        ++the_run.processed_count;
        return;
    }
    decode_dhcp_request(bytes, header->caplen, the_run.link_header_len, frame_request);
    select_and_report(frame_request);
}

}  // namespace dhcpident
