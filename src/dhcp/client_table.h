// Clients by address, each with its last entry: for --all the fields of
// its last DHCPREQUEST, for the capture service that request's frame. In
// the order of the clients' first requests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"
#include "dhcp/hash_key.h"
#include "text/render.h"

namespace dhcpident {

inline constexpr std::uint32_t default_max_clients = 65536;
// The largest bound that may be asked for: far beyond a router's memory,
// and small enough that no size computed from it can overflow, on 32 bits
// too.
inline constexpr std::uint32_t largest_max_clients = 1u << 24;

// The memory the records and the index may take, by default what a router
// with 64 MB can spare beside a capture in its RAM-backed /tmp. Counted
// through the table (the unit tests print it): 8 MiB holds 6,076 clients
// with every text at its longest and a 6-byte address (5,735 with 85-byte
// addresses), and some 57,000 of a phone's usual size.
inline constexpr std::size_t default_max_memory = std::size_t{8} << 20;
inline constexpr std::size_t largest_max_memory = std::size_t{1} << 30;

// The bounds a table keeps to.
struct client_limits {
    std::uint32_t max_clients;  // at most largest_max_clients
    std::size_t max_memory;     // bytes, at most largest_max_memory
};

// Whether an entry was kept, or why not. A new client that is not kept is
// not recorded; a known client whose entry is not kept has it withheld
// (no report, no frame), until a later entry of it is kept.
enum class store_outcome : std::uint8_t {
    stored,
    table_full,     // a new client past max_clients
    over_budget,    // the request needs memory past max_memory
    crowded,        // no free slot within max_probe of the client's own
    out_of_memory,  // an allocation failed
};

// What a table holds and what it does at a bound.
struct table_shape {
    // The largest entry that will be stored: no chunk is smaller than a
    // client with it.
    std::size_t largest_entry;
    // The bytes at the start of every entry whose size never changes:
    // records are given room for a later entry to grow by a quarter of the
    // rest.
    std::size_t steady_bytes;
    // At a bound, refuse new clients (and, from the first one refused,
    // every later one), or drop the clients whose last entry is oldest
    // until the new one fits. A client dropped is no longer known: its
    // next entry makes it a new client, behind the others.
    bool drop_oldest;
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
client_table* create_client_table(client_limits limits, hash_key key, table_shape shape,
                                  const page_source* pages = nullptr);
void destroy_client_table(client_table* table);
const client_limits& limits_of(const client_table& table);

// What the table holds: the bytes it has mapped, within max_memory (its
// record list, its index and the chunks its records lie in, packed, with
// the holes that records moved elsewhere left until they are compacted),
// the longest way from a client's own slot to where it lies, the clients
// dropped so far, at a bound, when the table drops them, and the times
// the chunks were compacted (each a pass over every record). Not
// counted: the table's own record and its list of chunks, from the heap at
// the start, a few hundred bytes, some 16 KiB at the largest budget.
struct table_figures {
    std::size_t memory;
    std::uint32_t longest_probe;
    std::uint32_t dropped;
    std::uint32_t compactions;
};
table_figures figures_of(const client_table& table);

// The key of a client: the address bytes its text shows. A client is the
// text its address renders to, whatever the address's length, as the
// target is compared: two addresses that agree in the 85 bytes whose text
// the renderer keeps are one client.
inline byte_view client_key(byte_view address) {
    return address.sub(0, address.size() < hex_colon_max_bytes ? address.size()
                                                                : hex_colon_max_bytes);
}

// Room for the last entry of the client key (from client_key), size bytes,
// into which the caller writes it at once: the room is the client's from
// here, whatever it holds, and lies where it is until the next call. Null,
// with outcome saying why, when the entry is not kept (one larger than the
// shape's largest_entry never is: over_budget); outcome is stored
// otherwise. The room is not aligned.
unsigned char* store_entry(client_table& table, byte_view key, std::size_t size,
                           store_outcome& outcome);

// Client numbers given so far, in the order of first requests, dropped
// clients' included.
std::uint32_t client_count(const client_table& table);

// The key and last entry of client i. False when it has none: its last
// entry could not be kept (anything of it would be older), or it was
// dropped.
bool client_entry(const client_table& table, std::uint32_t i, byte_view& key, byte_view& entry);

}  // namespace dhcpident
