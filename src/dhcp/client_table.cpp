#include "dhcp/client_table.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>

#include "dhcp/siphash.h"
#include "text/render.h"

namespace dhcpident {
namespace {

// The texts a record keeps, in this order, behind its fixed part.
enum record_text {
    text_address,
    text_option_codes,
    text_parameter_list,
    text_vendor_class,
    text_hostname,
    record_texts
};

// One client: the fixed fields of its last request, then that request's
// texts, packed, each at most 255 bytes (the address at most
// hex_colon_max_bytes), in a block of sizeof(client_record) + capacity
// bytes inside a chunk. The texts of a later request are written over them;
// when they do not fit, the client moves to a larger block and the old one
// is a hole until the chunks are compacted.
struct client_record {
    std::uint32_t owner;  // the client's number; no_owner for a hole
    std::uint32_t hash;
    std::uint16_t capacity;  // bytes of text behind the record
    bool withheld;           // its last request did not fit: no report
    std::uint16_t vlan_id;
    std::uint16_t circuit_vlan;
    std::uint8_t circuit_unit;
    std::uint8_t circuit_port;
    std::uint8_t ip_ttl;
    std::uint8_t req_ipaddr[4];
    std::uint8_t remote_id[remote_id_printed_bytes];
    std::uint8_t length[record_texts];

    unsigned char* text() { return reinterpret_cast<unsigned char*>(this + 1); }
    const unsigned char* text() const { return reinterpret_cast<const unsigned char*>(this + 1); }
    const unsigned char* field(int which) const {
        const unsigned char* at = text();
        for (int i = 0; i < which; ++i) at += length[i];
        return at;
    }
};

constexpr std::uint32_t no_owner = 0xFFFFFFFF;

// Room for a record's texts: what they need now and some more, so that the
// small changes between one request of a client and the next (a host name,
// a lease number) seldom make it grow; rounded so that the next block's
// header stays aligned.
constexpr std::size_t room_for(std::size_t needed) {
    constexpr std::size_t align = alignof(client_record);
    return (needed + needed / 4 + 16 + align - 1) / align * align;
}

std::size_t block_size(const client_record& record) { return sizeof record + record.capacity; }

// The largest block: every text at its longest.
constexpr std::size_t largest_block =
    sizeof(client_record) + room_for(hex_colon_max_bytes + (record_texts - 1) * 255);

// Chunk sizes: a thirty-second of the budget, so that the table holds few
// chunks, from a page to 1 MiB, so that none lies mostly unused.
constexpr std::size_t max_chunk_bytes = std::size_t{1} << 20;

// A chunk of records, packed from its start; used bytes in use, holes
// included.
struct chunk {
    unsigned char* base;
    std::size_t used;
};

// A slot of the index: the hash beside the record's number, so that a probe
// rarely has to reach the record itself, which lies elsewhere in memory, to
// tell one client from another.
struct client_slot {
    std::uint32_t hash;
    std::uint32_t record;  // index + 1; 0 is free
};

// The key of a request: the address bytes its text shows.
byte_view key_of(const dhcp_request& request) {
    const std::size_t size = request.chaddr.size();
    return request.chaddr.sub(0, size < hex_colon_max_bytes ? size : hex_colon_max_bytes);
}

bool same_key(const client_record& record, byte_view key) {
    if (record.length[text_address] != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (record.text()[i] != key.u8(i)) return false;
    }
    return true;
}

void* map_anonymous(std::size_t bytes) {
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return pages == MAP_FAILED ? nullptr : pages;
}

void unmap_anonymous(void* pages, std::size_t bytes) { munmap(pages, bytes); }

}  // namespace

// records[0, count) are the clients in the order of their first requests,
// each a block in one of chunks[0, chunk_count), which are filled in turn.
// The index is open addressing with linear probing over slot_count slots,
// a power of two at least twice count (0 before the first client): each
// record i sits in one slot {hash, i + 1}, among the max_probe slots from
// slot hash & (slot_count - 1) on, without a free slot before it, as
// nothing is ever removed. charged is every byte mapped for the record
// list, the index and the chunks, within limits.max_memory; hole_bytes is
// what holes take in the chunks.
struct client_table {
    page_source pages;
    std::size_t page_bytes;
    client_limits limits;
    hash_key key;
    std::uint32_t count;
    std::uint32_t records_capacity;
    client_record** records;
    std::uint32_t slot_count;
    client_slot* slots;
    std::size_t charged;
    std::uint32_t longest_probe;
    // Why a new client was refused, once one was: every later one is
    // refused too, even one that would fit, so that what is reported is the
    // clients up to a point.
    std::optional<store_outcome> closed;
    std::size_t chunk_bytes;
    std::size_t hole_bytes;
    std::size_t chunk_count;
    std::size_t chunk_capacity;
    chunk* chunks;  // chunk_capacity of them, from the heap at the start
};

namespace {

std::uint32_t hash_of(const client_table& table, byte_view key) {
    return static_cast<std::uint32_t>(siphash<1, 3>(table.key.k0, table.key.k1, key));
}

std::size_t whole_pages(const client_table& table, std::size_t bytes) {
    return (bytes + table.page_bytes - 1) / table.page_bytes * table.page_bytes;
}

// bytes (whole pages) from the page source, within the budget; null, with
// why, when they are past it or cannot be had.
void* map(client_table& table, std::size_t bytes, store_outcome& why) {
    if (table.charged + bytes > table.limits.max_memory) {
        why = store_outcome::over_budget;
        return nullptr;
    }
    void* pages = table.pages.map(bytes);
    if (pages == nullptr) {
        why = store_outcome::out_of_memory;
        return nullptr;
    }
    table.charged += bytes;
    return pages;
}

void unmap(client_table& table, void* pages, std::size_t bytes) {
    table.pages.unmap(pages, bytes);
    table.charged -= bytes;
}

// An array of count items of size bytes moved into new pages of room for
// capacity items: the old and the new are held at once for the copy.
void* regrow(client_table& table, void* old, std::size_t size, std::size_t count,
             std::size_t old_capacity, std::size_t capacity, store_outcome& why) {
    void* grown = map(table, whole_pages(table, capacity * size), why);
    if (grown == nullptr) return nullptr;
    if (count != 0) std::memcpy(grown, old, count * size);
    if (old != nullptr) unmap(table, old, whole_pages(table, old_capacity * size));
    return grown;
}

// Slides every record to the front of the chunks, in the order they lie,
// over the holes, and gives back the chunks left empty. A record that does
// not fit behind the one before it starts the next chunk, which is never
// beyond the one it comes from.
void compact(client_table& table) {
    std::size_t to = 0, at = 0;  // the chunk written into, and where
    for (std::size_t from = 0; from < table.chunk_count; ++from) {
        const chunk source = table.chunks[from];
        for (std::size_t offset = 0; offset < source.used;) {
            auto* record = reinterpret_cast<client_record*>(source.base + offset);
            const std::size_t size = block_size(*record);
            offset += size;
            if (record->owner == no_owner) continue;
            if (at + size > table.chunk_bytes) {
                table.chunks[to++].used = at;
                at = 0;
            }
            unsigned char* place = table.chunks[to].base + at;
            if (place != reinterpret_cast<unsigned char*>(record)) std::memmove(place, record, size);
            table.records[reinterpret_cast<client_record*>(place)->owner] =
                reinterpret_cast<client_record*>(place);
            at += size;
        }
    }
    table.chunks[to].used = at;
    while (table.chunk_count > to + 1) {
        unmap(table, table.chunks[--table.chunk_count].base, table.chunk_bytes);
    }
    table.hole_bytes = 0;
}

// A block of size bytes, at the end of the last chunk, or
// in a new chunk. Before a new chunk is taken, holes are compacted when
// they pass a quarter of the chunks, or when the budget would refuse it and
// they hold a chunk's worth. Compacting moves records: the caller finds its
// own through table.records.
client_record* place_block(client_table& table, std::size_t size, store_outcome& why) {
    for (int attempt = 0;; ++attempt) {
        if (table.chunk_count != 0) {
            chunk& last = table.chunks[table.chunk_count - 1];
            if (last.used + size <= table.chunk_bytes) {
                auto* record = reinterpret_cast<client_record*>(last.base + last.used);
                last.used += size;
                return record;
            }
        }
        // Each compaction moves every record, so it waits until it wins
        // back a good share: a quarter of the chunks, or at the budget a
        // chunk's worth; else a hostile LAN could have it run for every
        // request.
        const bool crowded_by_holes = table.hole_bytes > table.chunk_count * table.chunk_bytes / 4;
        const bool budget_reached = table.charged + table.chunk_bytes > table.limits.max_memory &&
                                    table.hole_bytes >= table.chunk_bytes;
        if (attempt == 0 && (crowded_by_holes || budget_reached)) {
            compact(table);
            continue;
        }
        if (table.chunk_count == table.chunk_capacity) {
            why = store_outcome::over_budget;
            return nullptr;
        }
        auto* base = static_cast<unsigned char*>(map(table, table.chunk_bytes, why));
        if (base == nullptr) return nullptr;
        table.chunks[table.chunk_count++] = {base, 0};
    }
}

// The one search of the index: from the slot of hash on, at most max_probe
// slots, the first that is free or holds a record for which known says
// true; null when there is none. distance is how far that slot lies.
template <typename Known>
client_slot* probe(client_slot* slots, std::uint32_t slot_count, std::uint32_t hash, Known known,
                   std::uint32_t& distance) {
    const std::uint32_t mask = slot_count - 1;
    for (distance = 0; distance < max_probe && distance < slot_count; ++distance) {
        client_slot& slot = slots[(hash + distance) & mask];
        if (slot.record == 0 || (slot.hash == hash && known(slot.record))) return &slot;
    }
    return nullptr;
}

// A free slot for a client the index does not hold.
client_slot* free_slot(client_slot* slots, std::uint32_t slot_count, std::uint32_t hash,
                       std::uint32_t& distance) {
    return probe(slots, slot_count, hash, [](std::uint32_t) { return false; }, distance);
}

// Doubles the index. Refused, the index left as it was, when a client
// would lie beyond max_probe in the new one. (A larger index, filled in the
// same order, puts no client further from its own slot than the smaller
// one did; the refusal guards the bound whatever.)
store_outcome grow_index(client_table& table) {
    const std::uint32_t slot_count = table.slot_count == 0 ? 64 : table.slot_count * 2;
    store_outcome why = store_outcome::stored;
    const std::size_t bytes = whole_pages(table, slot_count * sizeof(client_slot));
    auto* slots = static_cast<client_slot*>(map(table, bytes, why));
    if (slots == nullptr) return why;  // fresh pages read as zero: every slot free
    std::uint32_t longest = 0;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        const std::uint32_t hash = table.records[i]->hash;
        std::uint32_t distance = 0;
        client_slot* slot = free_slot(slots, slot_count, hash, distance);
        if (slot == nullptr) {
            unmap(table, slots, bytes);
            return store_outcome::crowded;
        }
        *slot = {hash, i + 1};
        if (distance > longest) longest = distance;
    }
    if (table.slots != nullptr) {
        unmap(table, table.slots, whole_pages(table, table.slot_count * sizeof(client_slot)));
    }
    table.slots = slots;
    table.slot_count = slot_count;
    table.longest_probe = longest;
    return store_outcome::stored;
}

// Each text up to its first zero, as the report reads it; at most 255.
struct text_lengths {
    std::size_t of[record_texts];
    std::size_t total;
};

text_lengths lengths_of(const dhcp_request& request, byte_view key) {
    text_lengths lengths{{key.size(), std::strlen(request.option_codes),
                          std::strlen(request.parameter_list), std::strlen(request.vendor_class),
                          std::strlen(request.hostname)},
                         0};
    for (std::size_t length : lengths.of) lengths.total += length;
    return lengths;
}

// Writes request into record, whose texts must fit its capacity.
void fill(client_record& record, const dhcp_request& request, byte_view key,
          const text_lengths& lengths) {
    record.withheld = false;
    record.vlan_id = request.vlan_id;
    record.ip_ttl = request.ip_ttl;
    std::memcpy(record.req_ipaddr, request.req_ipaddr, sizeof record.req_ipaddr);
    std::memcpy(record.remote_id, request.remote_id, sizeof record.remote_id);
    record.circuit_vlan = request.circuit_vlan;
    record.circuit_unit = request.circuit_unit;
    record.circuit_port = request.circuit_port;
    const char* texts[record_texts] = {nullptr, request.option_codes, request.parameter_list,
                                       request.vendor_class, request.hostname};
    unsigned char* at = record.text();
    key.copy_to(0, key.size(), at);
    for (int i = 0; i < record_texts; ++i) {
        record.length[i] = static_cast<std::uint8_t>(lengths.of[i]);
        if (i != text_address) std::memcpy(at, texts[i], lengths.of[i]);
        at += lengths.of[i];
    }
}

// Keeps request in the known client of this slot, growing its record when
// the texts need more room than it has.
store_outcome update(client_table& table, const client_slot& slot, const dhcp_request& request,
                     byte_view key, const text_lengths& lengths) {
    const std::uint32_t owner = slot.record - 1;
    if (lengths.total > table.records[owner]->capacity) {
        const std::size_t room = room_for(lengths.total);
        store_outcome why = store_outcome::stored;
        client_record* moved = place_block(table, sizeof(client_record) + room, why);
        client_record* record = table.records[owner];  // where compacting left it
        if (moved == nullptr) {
            // The older request stays in the record, but is no longer the
            // client's last: it is not reported.
            record->withheld = true;
            return why;
        }
        *moved = *record;
        moved->capacity = static_cast<std::uint16_t>(room);
        record->owner = no_owner;
        table.hole_bytes += block_size(*record);
        table.records[owner] = moved;
    }
    fill(*table.records[owner], request, key, lengths);
    return store_outcome::stored;
}

// Records a new client. slot is the free slot the search for it found
// (null: none within reach), which holds unless the index has to grow first.
store_outcome insert(client_table& table, std::uint32_t hash, client_slot* slot,
                     std::uint32_t distance, const dhcp_request& request, byte_view key,
                     const text_lengths& lengths) {
    if (table.count >= table.limits.max_clients) return store_outcome::table_full;
    if (table.closed) return *table.closed;
    store_outcome why = store_outcome::stored;
    if (table.count == table.records_capacity) {
        // A page of them first: what is mapped is a whole page anyway.
        const std::uint32_t capacity =
            table.records_capacity == 0
                ? static_cast<std::uint32_t>(table.page_bytes / sizeof(client_record*))
                : table.records_capacity * 2;
        auto* records = static_cast<client_record**>(
            regrow(table, table.records, sizeof(client_record*), table.count,
                   table.records_capacity, capacity, why));
        if (records == nullptr) return why;
        table.records = records;
        table.records_capacity = capacity;
    }
    if (2 * (table.count + 1) > table.slot_count) {
        if (const store_outcome grown = grow_index(table); grown != store_outcome::stored) {
            return grown;
        }
        slot = free_slot(table.slots, table.slot_count, hash, distance);
    }
    if (slot == nullptr) return store_outcome::crowded;
    const std::size_t room = room_for(lengths.total);
    client_record* record = place_block(table, sizeof(client_record) + room, why);
    if (record == nullptr) return why;
    record->owner = table.count;
    record->hash = hash;
    record->capacity = static_cast<std::uint16_t>(room);
    fill(*record, request, key, lengths);
    table.records[table.count++] = record;
    *slot = {hash, table.count};
    if (distance > table.longest_probe) table.longest_probe = distance;
    return store_outcome::stored;
}

}  // namespace

client_table* create_client_table(client_limits limits, hash_key key, const page_source* pages) {
    std::size_t chunk_bytes = limits.max_memory / 32;
    const std::size_t page_bytes = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    chunk_bytes = chunk_bytes < max_chunk_bytes ? chunk_bytes : max_chunk_bytes;
    chunk_bytes = (chunk_bytes + page_bytes - 1) / page_bytes * page_bytes;
    while (chunk_bytes < largest_block) chunk_bytes += page_bytes;
    // Never more chunks than the budget can map.
    const std::size_t chunk_capacity = limits.max_memory / chunk_bytes + 1;
    auto* table = static_cast<client_table*>(std::malloc(sizeof(client_table)));
    auto* chunks = static_cast<chunk*>(std::malloc(chunk_capacity * sizeof(chunk)));
    if (table == nullptr || chunks == nullptr) {
        std::free(table);
        std::free(chunks);
        return nullptr;
    }
    // Built here, not kept as a constant: one holding pointers would be
    // relocated at load time, and cost the router program a page.
    *table = client_table{pages != nullptr ? *pages : page_source{map_anonymous, unmap_anonymous},
                          page_bytes, limits, key, 0, 0, nullptr, 0, nullptr, 0, 0, std::nullopt,
                          chunk_bytes, 0, 0, chunk_capacity, chunks};
    return table;
}

const client_limits& limits_of(const client_table& table) { return table.limits; }

table_figures figures_of(const client_table& table) { return {table.charged, table.longest_probe}; }

void destroy_client_table(client_table* table) {
    if (table == nullptr) return;
    for (std::size_t i = 0; i < table->chunk_count; ++i) {
        unmap(*table, table->chunks[i].base, table->chunk_bytes);
    }
    if (table->records != nullptr) {
        unmap(*table, table->records,
              whole_pages(*table, table->records_capacity * sizeof(client_record*)));
    }
    if (table->slots != nullptr) {
        unmap(*table, table->slots, whole_pages(*table, table->slot_count * sizeof(client_slot)));
    }
    std::free(table->chunks);
    std::free(table);
}

store_outcome store_request(client_table& table, const dhcp_request& request) {
    const byte_view key = key_of(request);
    const text_lengths lengths = lengths_of(request, key);
    const std::uint32_t hash = hash_of(table, key);
    client_slot* slot = nullptr;
    std::uint32_t distance = 0;
    if (table.slot_count != 0) {
        slot = probe(table.slots, table.slot_count, hash,
                     [&](std::uint32_t record) { return same_key(*table.records[record - 1], key); },
                     distance);
        if (slot != nullptr && slot->record != 0) return update(table, *slot, request, key, lengths);
    }
    const store_outcome outcome = insert(table, hash, slot, distance, request, key, lengths);
    if (outcome != store_outcome::stored && !table.closed) table.closed = outcome;
    return outcome;
}

std::uint32_t client_count(const client_table& table) { return table.count; }

bool client_request(const client_table& table, std::uint32_t i, dhcp_request& out) {
    const client_record& record = *table.records[i];
    if (record.withheld) return false;
    out = dhcp_request{};
    out.chaddr = byte_view(record.field(text_address), record.length[text_address]);
    out.chaddr_captured = true;
    out.vlan_id = record.vlan_id;
    out.ip_ttl = record.ip_ttl;
    out.message_type = dhcp_request_type;
    std::memcpy(out.req_ipaddr, record.req_ipaddr, sizeof out.req_ipaddr);
    std::memcpy(out.remote_id, record.remote_id, sizeof record.remote_id);
    out.circuit_vlan = record.circuit_vlan;
    out.circuit_unit = record.circuit_unit;
    out.circuit_port = record.circuit_port;
    char* texts[record_texts] = {nullptr, out.option_codes, out.parameter_list, out.vendor_class,
                                 out.hostname};
    for (int field = text_option_codes; field < record_texts; ++field) {
        std::memcpy(texts[field], record.field(field), record.length[field]);
    }
    out.option_count = record.length[text_option_codes];
    return true;
}

}  // namespace dhcpident
