// Live capture for the capture service: interfaces opened by root with a
// kernel filter for what a DHCP client sends.
#pragma once

#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>

namespace dhcpident {

// Holds any DHCP frame of a 1500-byte MTU with one 802.1Q tag: the
// Ethernet header, the tag and the IP packet.
inline constexpr std::uint32_t live_snaplen = 14 + 4 + 1500;

// What the kernel passes: UDP to port 67, untagged or behind an 802.1Q
// tag, what clients send to a server, relayed requests included.
inline constexpr char dhcp_filter_expression[] = "udp dst port 67 or (vlan and udp dst port 67)";

// The kernel filter: dhcp_filter_expression as libpcap compiles it for a
// live Ethernet interface and live_snaplen.
bpf_program dhcp_filter_program();

// The kernel hands the frames over at the latest this long after the
// first of them came.
inline constexpr int delivery_timeout_ms = 100;

// Opens an Ethernet interface for live capture: a kernel buffer of
// buffer_bytes, live_snaplen, non-blocking, and the kernel filter, locked.
// Null with the reason in error_text (PCAP_ERRBUF_SIZE bytes).
pcap_t* open_interface(const char* interface, std::size_t buffer_bytes, char* error_text);

}  // namespace dhcpident
