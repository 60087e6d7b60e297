#include "common/link_type.h"

#include <cstdio>

#include "base/diagnostics.h"

namespace dhcpident {
namespace {

struct link_type_row {
    int link_type;  // DLT_ value as pcap_datalink reports it on Linux
    std::uint16_t header_length;
};

constexpr link_type_row link_types[] = {
    {0, 4},     // DLT_NULL: 4-byte address family
    {1, 14},    // DLT_EN10MB: Ethernet
    {8, 16},    // DLT_SLIP
    {9, 4},     // DLT_PPP
    {12, 0},    // DLT_RAW: the frame starts with the IP header
    {50, 8},    // DLT_PPP_SERIAL: taken as 8, not the 4 of its HDLC header
    {51, 8},    // DLT_PPP_ETHER: PPPoE session header and PPP protocol
    {108, 8},   // DLT_LOOP: taken as 8, not the 4 of its address family
    {113, 16},  // DLT_LINUX_SLL: Linux cooked capture
    {117, 28},  // DLT_PFLOG: taken as a fixed length
};

}  // namespace

std::optional<std::uint16_t> link_header_length(int link_type) {
    for (const link_type_row& row : link_types) {
        if (row.link_type == link_type) return row.header_length;
    }
    say("Warning: unable to find device link type!\n");
    return std::nullopt;
}

void set_link_header_len(int link_type, std::uint16_t& length) {
    if (const auto known = link_header_length(link_type)) length = *known;
}

}  // namespace dhcpident
