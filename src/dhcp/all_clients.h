// Every client in one pass: the last DHCPREQUEST of each client, kept until
// the end of the capture, then reported in the order of first requests.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>

#include "dhcp/dhcp_request.h"
#include "driver/capture_run.h"

namespace dhcpident {

inline constexpr std::uint32_t default_max_clients = 65536;
// The largest bound that may be asked for: far beyond a router's memory,
// and small enough that no size computed from it can overflow, on 32 bits
// too.
inline constexpr std::uint32_t largest_max_clients = 1u << 24;

// One record per client, allocated when the client is first seen and reused
// for each later request; past max_clients no new client is recorded (one
// warning), so memory stays bounded.
struct client_table;

// Null when memory runs out. max_clients is at most largest_max_clients.
client_table* create_client_table(std::uint32_t max_clients);
void destroy_client_table(client_table* table);

// Keeps request as its client's last: a client is the text its address
// renders to, whatever its length, as the target is compared. False when
// the client is new and was not recorded (the bound, or no memory).
bool record_request(client_table& table, const dhcp_request& request);

// The handler of the one pass over the_run; user is the client_table.
// Counts every frame as processed.
void handle_packet_all(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

// Prints each recorded client's report, in the order of first requests.
void print_client_reports(const client_table& table, report_format format);

}  // namespace dhcpident
