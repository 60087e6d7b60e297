#include "dhcp/client_table.h"

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
// bytes. The texts of a later request are written over them; the block
// grows only when they do not fit.
struct client_record {
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

// Room for a record's texts: what they need now and some more, so that the
// small changes between one request of a client and the next (a host name,
// a lease number) seldom make it grow.
std::size_t room_for(std::size_t needed) { return needed + needed / 4 + 16; }

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

void* heap_allocate(void* block, std::size_t size) {
    if (size == 0) {
        std::free(block);
        return nullptr;
    }
    return std::realloc(block, size);
}

}  // namespace

// records[0, count) are the clients in the order of their first requests.
// The index is open addressing with linear probing over slot_count slots,
// a power of two at least twice count (0 before the first client): each
// record i sits in one slot {hash, i + 1}, among the max_probe slots from
// slot hash & (slot_count - 1) on, without a free slot before it, as
// nothing is ever removed. charged is the block_charge of every block of
// records, the record list and the index, within limits.max_memory.
struct client_table {
    table_allocator allocate;
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
};

namespace {

std::uint32_t hash_of(const client_table& table, byte_view key) {
    return static_cast<std::uint32_t>(siphash<1, 3>(table.key.k0, table.key.k1, key));
}

// size bytes for block (null: a new block, else one of old_size bytes), from
// the allocator and within the budget; a block that moves is held twice for
// a moment, so the new size is counted beside the old. Null, with why.
void* take(client_table& table, void* block, std::size_t old_size, std::size_t size,
           store_outcome& why) {
    if (table.charged + block_charge(size) > table.limits.max_memory) {
        why = store_outcome::over_budget;
        return nullptr;
    }
    void* taken = table.allocate(block, size);
    if (taken == nullptr) {
        why = store_outcome::out_of_memory;
        return nullptr;
    }
    table.charged += block_charge(size) - (block != nullptr ? block_charge(old_size) : 0);
    return taken;
}

void give_back(client_table& table, void* block, std::size_t size) {
    table.allocate(block, 0);
    table.charged -= block_charge(size);
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
    auto* slots = static_cast<client_slot*>(
        take(table, nullptr, 0, slot_count * sizeof(client_slot), why));
    if (slots == nullptr) return why;
    std::memset(slots, 0, slot_count * sizeof(client_slot));
    std::uint32_t longest = 0;
    for (std::uint32_t i = 0; i < table.count; ++i) {
        const std::uint32_t hash = table.records[i]->hash;
        std::uint32_t distance = 0;
        client_slot* slot = free_slot(slots, slot_count, hash, distance);
        if (slot == nullptr) {
            give_back(table, slots, slot_count * sizeof(client_slot));
            return store_outcome::crowded;
        }
        *slot = {hash, i + 1};
        if (distance > longest) longest = distance;
    }
    if (table.slots != nullptr) give_back(table, table.slots, table.slot_count * sizeof(client_slot));
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
    client_record*& record = table.records[slot.record - 1];
    if (lengths.total > record->capacity) {
        const std::size_t room = room_for(lengths.total);
        store_outcome why = store_outcome::stored;
        auto* grown = static_cast<client_record*>(take(
            table, record, sizeof(client_record) + record->capacity, sizeof(client_record) + room, why));
        if (grown == nullptr) {
            // The older request stays in the record, but is no longer the
            // client's last: it is not reported.
            record->withheld = true;
            return why;
        }
        record = grown;
        record->capacity = static_cast<std::uint16_t>(room);
    }
    fill(*record, request, key, lengths);
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
        const std::uint32_t capacity = table.records_capacity == 0 ? 64 : table.records_capacity * 2;
        auto* records = static_cast<client_record**>(
            take(table, table.records, table.records_capacity * sizeof(client_record*),
                 capacity * sizeof(client_record*), why));
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
    auto* record =
        static_cast<client_record*>(take(table, nullptr, 0, sizeof(client_record) + room, why));
    if (record == nullptr) return why;
    record->hash = hash;
    record->capacity = static_cast<std::uint16_t>(room);
    fill(*record, request, key, lengths);
    table.records[table.count++] = record;
    *slot = {hash, table.count};
    if (distance > table.longest_probe) table.longest_probe = distance;
    return store_outcome::stored;
}

}  // namespace

client_table* create_client_table(client_limits limits, hash_key key, table_allocator allocate) {
    if (allocate == nullptr) allocate = heap_allocate;
    auto* table = static_cast<client_table*>(allocate(nullptr, sizeof(client_table)));
    if (table != nullptr) {
        *table = client_table{allocate, limits, key, 0, 0, nullptr, 0, nullptr, 0, 0, std::nullopt};
    }
    return table;
}

const client_limits& limits_of(const client_table& table) { return table.limits; }

table_figures figures_of(const client_table& table) { return {table.charged, table.longest_probe}; }

void destroy_client_table(client_table* table) {
    if (table == nullptr) return;
    const table_allocator allocate = table->allocate;
    for (std::uint32_t i = 0; i < table->count; ++i) allocate(table->records[i], 0);
    if (table->records != nullptr) allocate(table->records, 0);
    if (table->slots != nullptr) allocate(table->slots, 0);
    allocate(table, 0);
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
