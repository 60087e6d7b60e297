// What the capture service keeps: each client's last request frame, of
// one link type, and what keeping them has lost, to be told.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

#include "dhcp/client_table.h"
#include "dhcp/kept_frames.h"
#include "service/warnings.h"

namespace dhcpident {

struct frame_store {
    client_table* table;  // null when there was no memory for it
    int link_type;        // the captures' (pcap_datalink)
    std::uint16_t link_header_len;
    // The snap length the file header gives: at least every kept frame's
    // captured length, so that a reader cuts none.
    std::uint32_t snaplen;
    frame_counts counts;          // refused since the last line of their reason
    std::uint32_t dropped_told;   // clients dropped that a warning has named
    warning_clock dropped_clock;
    warning_clock refused_clocks[store_outcomes];
};

// A store of frames of link_type, at most largest_frame bytes each; its
// table is null when memory runs out.
frame_store make_frame_store(client_limits limits, int link_type, std::uint32_t snaplen,
                             std::size_t largest_frame);

// The pcap handler that stores frames: user is the frame_store.
void store_pcap_frame(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

// Hands every frame of capture to store_pcap_frame. False when a read
// failed before the end (libpcap's text in pcap_geterr): the frames before
// it are kept, as the reports read them.
bool read_frames(pcap_t* capture, frame_store& store);

// Whether clients were dropped or requests refused since the losses were
// last told.
bool losses_untold(const frame_store& store);

// Tells them, as their warnings are due at now_ms (all of them when the
// service is ending): a line for the clients dropped and one for each
// reason requests were refused, each with its count since the last such
// line.
void tell_losses(frame_store& store, milliseconds now_ms, bool ending);

}  // namespace dhcpident
