// Where a frame's headers lie. The decoder applies no filter: it does not
// test the EtherType (beyond the one tag below), the IP version or protocol,
// or the UDP ports, and reads every frame at these fixed offsets. Inline, as
// the per-frame test of the client address runs on every frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"

namespace dhcpident {

inline constexpr std::size_t tag_type_offset = 12;     // EtherType, or the 802.1Q TPID
inline constexpr std::uint16_t tag_type_8021q = 0x8100;
inline constexpr std::size_t tag_control_offset = 14;  // 802.1Q TCI: priority, DEI, VLAN id
inline constexpr std::uint16_t tag_vlan_mask = 0x0FFF;
inline constexpr std::size_t tag_length = 4;

inline constexpr std::size_t ip_ttl_offset = 8;
inline constexpr std::size_t ip_header_length = 20;  // IHL is not read: options are not expected
inline constexpr std::size_t udp_length_offset = 4;
inline constexpr std::size_t udp_header_length = 8;

inline constexpr std::size_t bootp_hlen_offset = 2;
inline constexpr std::size_t bootp_chaddr_offset = 28;
inline constexpr std::size_t bootp_fixed_length = 236;  // op .. file, RFC 2131
inline constexpr std::size_t magic_cookie_length = 4;   // 99.130.83.99, not checked
inline constexpr std::size_t bootp_options_offset = bootp_fixed_length + magic_cookie_length;
static_assert(bootp_options_offset == 240);
// UDP length covering the UDP header, the fixed BOOTP part and the cookie:
// what is left of it is the options area.
inline constexpr std::size_t udp_length_before_options = udp_header_length + bootp_options_offset;
static_assert(udp_length_before_options == 248);

struct frame_layout {
    std::uint16_t vlan_id;  // low 12 bits of the 802.1Q tag; 0 when untagged
    std::size_t ip;         // IP header
    std::size_t udp;        // UDP header
    std::size_t bootp;      // BOOTP message
    std::size_t options;    // first DHCP option, behind the magic cookie
};

inline frame_layout locate_headers(byte_view frame, std::uint16_t link_header_len) {
    frame_layout layout{};
    layout.ip = link_header_len;
    // Bytes 12-13 are tested whatever the link type: on a link without an
    // Ethernet header they belong to something else and can still read as a
    // tag, which then moves every offset by 4 bytes.
    if (frame.has(tag_type_offset, 2) && frame.be16(tag_type_offset) == tag_type_8021q) {
        layout.vlan_id = frame.be16(tag_control_offset) & tag_vlan_mask;
        layout.ip += tag_length;
    }
    layout.udp = layout.ip + ip_header_length;
    layout.bootp = layout.udp + udp_header_length;
    layout.options = layout.bootp + bootp_options_offset;
    return layout;
}

enum class address_state {
    // The frame ends before its first option: no request at all, whatever
    // the bytes it has say.
    frame_cut_short,
    address_cut,  // the options are there, but not all hlen address bytes
    captured,
};

// The client hardware address: hlen bytes at BOOTP offset 28, in address
// when captured. hlen may exceed the 16-byte chaddr field; the address then
// reads on into the following BOOTP fields, as long as they were captured.
inline address_state client_address(byte_view frame, const frame_layout& layout,
                                    byte_view& address) {
    if (!frame.has(0, layout.options)) return address_state::frame_cut_short;
    const std::uint8_t hlen = frame.u8(layout.bootp + bootp_hlen_offset);
    if (!frame.has(layout.bootp + bootp_chaddr_offset, hlen)) return address_state::address_cut;
    address = frame.sub(layout.bootp + bootp_chaddr_offset, hlen);
    return address_state::captured;
}

}  // namespace dhcpident
