// A frame read as a DHCP client message in IPv4 and UDP.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"

namespace dhcpident {

// Each byte string holds up to 255 value bytes and always a terminating zero;
// later readers stop at the first zero byte, except for remote_id, whose first
// six bytes the report prints whatever they hold. The decoder clears what
// is read back, not the whole record: bytes behind a string's terminator
// are left from earlier frames.
inline constexpr std::size_t byte_string_size = 256;

inline constexpr std::uint8_t dhcp_request_type = 3;  // DHCPREQUEST, RFC 2132 option 53

// The report prints this many bytes of the remote-id, whatever they hold.
inline constexpr std::size_t remote_id_printed_bytes = 6;

struct dhcp_request {
    std::uint16_t vlan_id;  // low 12 bits of the 802.1Q tag; 0 when untagged
    std::uint8_t ip_ttl;
    // The client hardware address: as many bytes as BOOTP's hlen says, at
    // BOOTP offset 28, still inside the frame. Valid only when
    // chaddr_captured: a frame that ends before its options, or before the
    // end of its client address, is never a request from the target.
    byte_view chaddr;
    bool chaddr_captured;
    std::uint8_t message_type;  // option 53; 0 when absent
    std::uint8_t req_ipaddr[4];  // option 50, wire order; zero when absent
    std::uint16_t option_count;  // codes held in option_codes
    char option_codes[byte_string_size];  // every code but pad, end and 82
    char parameter_list[byte_string_size];  // option 55
    char vendor_class[byte_string_size];    // option 60
    char hostname[byte_string_size];        // option 12
    char remote_id[byte_string_size];  // option 82 remote-id less its 2 leading bytes
    std::uint16_t circuit_vlan;  // option 82 circuit-id of type 0, length 4
    std::uint8_t circuit_unit;
    std::uint8_t circuit_port;
};

// Decodes the frame at fixed offsets. link_header_len is the number of bytes
// in front of the IP header for the capture's link type; the frame view
// covers the bytes libpcap captured, the bound of every read.
void decode_dhcp_request(byte_view frame, std::uint16_t link_header_len, dhcp_request& out);

struct frame_layout;

// The message type the decoder would give the frame (option 53, the last
// one wholly captured; 0 without), found by the same walk without copying
// anything: a cheap test before a full decode. The frame reaches its
// options.
std::uint8_t dhcp_message_type(byte_view frame, const frame_layout& layout);

}  // namespace dhcpident
