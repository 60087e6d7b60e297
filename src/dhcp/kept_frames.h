// The frames the capture service keeps: each client's last DHCPREQUEST,
// exactly as captured, so that a capture of them alone reports what the
// whole capture reports. A client, a request and the last one are what the
// reports take them to be: the same test (is_dhcp_request) and the same
// key (client_key).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"
#include "dhcp/client_table.h"

namespace dhcpident {

// A frame's record header as a classic pcap file holds it: four words in
// the byte order of the machine that wrote the file.
struct frame_header {
    std::uint32_t seconds;
    std::uint32_t microseconds;
    std::uint32_t captured;  // bytes of the frame in the file
    std::uint32_t original;  // bytes of the frame on the wire
};

// A table that keeps frames of at most largest_frame bytes and, past its
// bounds, drops the clients whose last request is oldest. Null when memory
// runs out.
client_table* create_frame_table(client_limits limits, hash_key key, std::size_t largest_frame);

inline constexpr std::size_t store_outcomes = 5;
static_assert(static_cast<std::size_t>(store_outcome::out_of_memory) + 1 == store_outcomes);

// What storing requests has come to since these were last cleared: the
// requests kept, and those refused, by why (the index of their
// store_outcome). The clients dropped are the table's own count.
struct frame_counts {
    std::uint32_t kept;
    std::uint32_t refused[store_outcomes];
};

// Stores frame (header.captured bytes) as its client's last when it is a
// DHCPREQUEST on a link with link_header_len bytes in front of the IP
// header. The header is kept as given.
void store_request_frame(client_table& table, std::uint16_t link_header_len,
                         const frame_header& header, byte_view frame, frame_counts& counts);

// The stored frame of client i, in the order of first requests, behind its
// record header: false when the client has none (dropped, or its last
// request was refused).
bool stored_request_frame(const client_table& table, std::uint32_t i, byte_view& record);

}  // namespace dhcpident
