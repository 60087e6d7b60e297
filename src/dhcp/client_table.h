// The clients of --all: each client's last DHCPREQUEST, kept until the end
// of the capture, in the order of the clients' first requests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dhcp/dhcp_request.h"
#include "dhcp/hash_key.h"

namespace dhcpident {

inline constexpr std::uint32_t default_max_clients = 65536;
// The largest bound that may be asked for: far beyond a router's memory,
// and small enough that no size computed from it can overflow, on 32 bits
// too.
inline constexpr std::uint32_t largest_max_clients = 1u << 24;

// The memory the records and the index may take, by default what a router
// with 64 MB can spare beside a capture in its RAM-backed /tmp. A client
// takes at most about 1.4 KB (every text at its longest): 8 MiB holds
// 6,200 such clients, and some 60,000 of a phone's usual size.
inline constexpr std::size_t default_max_memory = std::size_t{8} << 20;
inline constexpr std::size_t largest_max_memory = std::size_t{1} << 30;

// The bounds a table keeps to.
struct client_limits {
    std::uint32_t max_clients;  // at most largest_max_clients
    std::size_t max_memory;     // bytes, at most largest_max_memory
};

// Whether a request was kept, or why not. A new client that is not kept is
// not recorded; a known client whose request is not kept has its report
// withheld, until a later request of it is kept.
enum class store_outcome : std::uint8_t {
    stored,
    table_full,     // a new client past max_clients
    over_budget,    // the request needs memory past max_memory
    crowded,        // no free slot within max_probe of the client's own
    out_of_memory,  // an allocation failed
};

// A search of the index looks at this many slots at most, the client's own
// slot included: the cost of a request stays bounded whatever addresses the
// clients choose.
inline constexpr std::uint32_t max_probe = 128;

// Where the table takes its memory from: whole pages, from the kernel
// itself (mmap), so that what it counts against max_memory is what the
// process holds for it, whatever an allocator would make of the sizes.
// Tests make mappings fail, and watch what is held, with their own.
struct page_source {
    void* (*map)(std::size_t bytes);  // a multiple of the page size; null: none
    void (*unmap)(void* pages, std::size_t bytes);
};

struct client_table;

// Null when memory runs out.
client_table* create_client_table(client_limits limits, hash_key key,
                                  const page_source* pages = nullptr);
void destroy_client_table(client_table* table);
const client_limits& limits_of(const client_table& table);

// What the table holds: the bytes it has mapped, within max_memory (its
// record list, its index and the chunks its records lie in, packed, with
// the holes that records moved elsewhere left until they are compacted),
// and the longest way from a client's own slot to where it lies. Not
// counted: the table's own record and its list of chunks, from the heap at
// the start, a few hundred bytes, some 16 KiB at the largest budget.
struct table_figures {
    std::size_t memory;
    std::uint32_t longest_probe;
};
table_figures figures_of(const client_table& table);

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
