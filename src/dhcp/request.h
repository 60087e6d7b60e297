// What makes a frame a DHCPREQUEST, decided here once: for dhcpident MAC,
// for --all and for the frames the capture service keeps, so that each
// reports (or keeps) exactly what the others would.
#pragma once

#include <cstdint>

#include "base/byte_view.h"
#include "dhcp/dhcp_request.h"
#include "dhcp/frame_layout.h"

namespace dhcpident {

// Whether frame is a DHCPREQUEST (option 53 of type 3, as the decoder reads
// it) whose client address was captured whole, and of a client wanted(the
// address) takes; address gets the address. Most frames are no request at
// all: the address and the message type tell, without decoding the rest,
// and the address is tested first, as it is the cheaper.
template <typename Wanted>
inline bool is_dhcp_request_from(byte_view frame, std::uint16_t link_header_len, Wanted wanted,
                                 byte_view& address) {
    const frame_layout layout = locate_headers(frame, link_header_len);
    return client_address(frame, layout, address) == address_state::captured && wanted(address) &&
           dhcp_message_type(frame, layout) == dhcp_request_type;
}

// The same for a client of any address.
inline bool is_dhcp_request(byte_view frame, std::uint16_t link_header_len, byte_view& address) {
    return is_dhcp_request_from(frame, link_header_len, [](byte_view) { return true; }, address);
}

}  // namespace dhcpident
