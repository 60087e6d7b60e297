// Per-frame work: pick out the target's DHCPREQUESTs, count them, and print
// the report for the one the first pass said was the last.
#pragma once

#include <pcap/pcap.h>

#include "dhcp/dhcp_request.h"
#include "driver/capture_run.h"

namespace dhcpident {

// The handler both capture passes give to pcap_loop: handle_frame over the
// process-wide run state. Only the captured length of the header is used;
// user is not.
void handle_packet(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

// One frame of a pass over run. Only the target's requests change more
// than processed_count, and nearly every frame is from another client or
// no DHCP at all: the client address alone tells, without decoding the
// rest, and only the target's frames are decoded.
void handle_frame(byte_view frame, capture_run& run);

// Sets the target of run: its text, and the address bytes whose text it is,
// so that frames can be compared without rendering. text holds at most
// target_mac_max_length characters.
void set_target_mac(capture_run& run, const char* text);

// Whether the frame's client address is the target's: the same answer as
// rendering it and comparing the text with the target's.
bool from_target(byte_view frame, const capture_run& run);

// Counts a decoded frame from the target in run and, in the second pass,
// prints the report when the target's request count reaches the first
// pass's.
void select_and_report(const dhcp_request& request, capture_run& run);

}  // namespace dhcpident
