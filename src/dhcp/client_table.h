// The clients of --all: each client's last DHCPREQUEST, kept until the end
// of the capture, in the order of the clients' first requests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dhcp/dhcp_request.h"

namespace dhcpident {

inline constexpr std::uint32_t default_max_clients = 65536;
// The largest bound that may be asked for: far beyond a router's memory,
// and small enough that no size computed from it can overflow, on 32 bits
// too.
inline constexpr std::uint32_t largest_max_clients = 1u << 24;

// The bounds a table keeps to.
struct client_limits {
    std::uint32_t max_clients;  // at most largest_max_clients
};

// Whether a request was kept, or why not.
enum class store_outcome : std::uint8_t {
    stored,
    table_full,     // a new client past max_clients: not recorded
    out_of_memory,  // a new client is not recorded; a known one's report is withheld
};

// Where the table takes its memory from, with realloc's contract; blocks
// are given back with std::free. Tests make allocations fail with it.
using table_allocator = void* (*)(void* block, std::size_t size);

struct client_table;

// Null when memory runs out.
client_table* create_client_table(client_limits limits, table_allocator allocate = nullptr);
void destroy_client_table(client_table* table);
const client_limits& limits_of(const client_table& table);

// Keeps request as its client's last. A client is the text its address
// renders to, whatever the address's length, as the target is compared:
// two addresses that agree in the 85 bytes whose text the renderer keeps
// are one client.
store_outcome store_request(client_table& table, const dhcp_request& request);

// Clients recorded, in the order of their first requests.
std::uint32_t client_count(const client_table& table);

// The last request of client i, as the decoder gave it. False when its last
// request could not be kept: then any report of it would be of an older
// request, and it has none.
bool client_request(const client_table& table, std::uint32_t i, dhcp_request& out);

}  // namespace dhcpident
