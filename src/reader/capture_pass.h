// The passes over the capture file: each opens it, sets the link header
// length from its link type and hands every frame to the per-frame handler
// through pcap_loop.
#pragma once

#include <pcap/pcap.h>

#include "dhcp/all_clients.h"
#include "dhcp/select.h"

namespace dhcpident {

enum class pass_outcome {
    completed,    // every frame of the file was handled
    open_failed,  // the capture could not be opened; the error is written
    interrupted,  // a termination signal arrived; stop and summarise
};

// Opens the capture for one pass, or gives null with the reason in
// error_text (PCAP_ERRBUF_SIZE bytes). context is the opener's own.
using capture_opener = pcap_t* (*)(const void* context, char* error_text);

// The program's capture_opener (context unused): first sets the user id to
// the unprivileged account's, warning "Unable to drop privileges!" when it
// cannot, then opens the fixed path under the reader's rules, so that root
// never opens it.
pcap_t* drop_privileges_and_open_fixed_capture(const void* context, char* error_text);

// The handlers the passes give to pcap_loop, over the process's run record:
// handle_packet for the default mode's passes (user is not used),
// handle_packet_all for --all's (user is the all_clients). Only the
// captured length of the header is used.
void handle_packet(u_char* user, const pcap_pkthdr* header, const u_char* bytes);
void handle_packet_all(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

// Starts a run: the process's run record cleared, then its target (the
// MAC text, at most target_mac_max_length characters; null for --all) and
// its report format set.
void start_run(const char* target, report_format format);

// The run record as the passes have left it: its counters.
capture_run run_state();

// The two passes of the default mode: the first counts the target's
// requests, the second reports. Stops at a failed open, with "Error: Unable
// to open device" and the reason written, or at a termination signal.
// Tests and fuzzers give openers of captures of their own.
pass_outcome run_capture_passes(capture_opener open, const void* context);

// The one pass of --all: every client's last request into clients, to be
// printed once the pass has completed.
pass_outcome run_all_clients_pass(capture_opener open, const void* context, all_clients& clients);

}  // namespace dhcpident
