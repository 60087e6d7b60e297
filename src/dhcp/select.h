// Per-frame work: pick out the target's DHCPREQUESTs, count them, and print
// the report for the one the first pass said was the last.
#pragma once

#include <pcap/pcap.h>

#include "dhcp/dhcp_request.h"

namespace dhcpident {

// The handler both capture passes give to pcap_loop. Only the captured
// length of the header is used; user is not.
void handle_packet(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

// Counts a decoded frame in the_run and, in the second pass, prints the
// report when the target's request count reaches the first pass's.
void select_and_report(const dhcp_request& request);

}  // namespace dhcpident
