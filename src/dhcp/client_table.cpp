#include "dhcp/client_table.h"

#include <cstdlib>
#include <cstring>

namespace dhcpident {
namespace {

// A rendered address is cut at 254 characters, the text of 85 bytes: two
// addresses that agree in those bytes are one client, as for the target.
constexpr std::size_t max_key_bytes = 85;

// The texts a record keeps, in this order, behind its fixed part.
enum text_field { address, option_codes, parameter_list, vendor_class, hostname, text_fields };

// One client: the fixed fields of its last request, then that request's
// texts, packed, each at most 255 bytes (the address at most 85), in a
// block of sizeof(client_record) + capacity bytes. The texts of a later
// request are written over them; the block grows only when they do not fit.
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
    std::uint8_t length[text_fields];

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

std::uint32_t hash_of(byte_view key) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (std::size_t i = 0; i < key.size(); ++i) hash = (hash ^ key.u8(i)) * 16777619u;
    return hash;
}

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
    return request.chaddr.sub(0, size < max_key_bytes ? size : max_key_bytes);
}

bool same_key(const client_record& record, byte_view key) {
    if (record.length[address] != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (record.text()[i] != key.u8(i)) return false;
    }
    return true;
}

}  // namespace

// records[0, count) are the clients in the order of their first requests.
// The index is open addressing with linear probing over slot_count slots,
// a power of two at least twice count (0 before the first client): each
// record i sits in one slot {hash, i + 1}, reached from slot hash &
// (slot_count - 1) without passing a free slot, as nothing is ever removed.
struct client_table {
    table_allocator allocate;
    client_limits limits;
    std::uint32_t count;
    std::uint32_t records_capacity;
    client_record** records;
    std::uint32_t slot_count;
    client_slot* slots;
};

namespace {

// The slot of the record whose hash and key these are, or the free slot
// where it would go.
client_slot& slot_for(const client_table& table, std::uint32_t hash, byte_view key) {
    const std::uint32_t mask = table.slot_count - 1;
    for (std::uint32_t at = hash & mask;; at = (at + 1) & mask) {
        client_slot& slot = table.slots[at];
        if (slot.record == 0 ||
            (slot.hash == hash && same_key(*table.records[slot.record - 1], key))) {
            return slot;
        }
    }
}

bool grow_index(client_table& table) {
    const std::uint32_t slot_count = table.slot_count == 0 ? 64 : table.slot_count * 2;
    auto* slots = static_cast<client_slot*>(table.allocate(nullptr, slot_count * sizeof(client_slot)));
    if (slots == nullptr) return false;
    std::memset(slots, 0, slot_count * sizeof(client_slot));
    for (std::uint32_t i = 0; i < table.count; ++i) {
        const std::uint32_t hash = table.records[i]->hash;
        std::uint32_t at = hash & (slot_count - 1);
        while (slots[at].record != 0) at = (at + 1) & (slot_count - 1);
        slots[at] = {hash, i + 1};
    }
    std::free(table.slots);
    table.slots = slots;
    table.slot_count = slot_count;
    return true;
}

// Each text up to its first zero, as the report reads it; at most 255.
struct text_lengths {
    std::size_t of[text_fields];
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
    const char* texts[text_fields] = {nullptr, request.option_codes, request.parameter_list,
                                      request.vendor_class, request.hostname};
    unsigned char* at = record.text();
    key.copy_to(0, key.size(), at);
    for (int i = 0; i < text_fields; ++i) {
        record.length[i] = static_cast<std::uint8_t>(lengths.of[i]);
        if (i != address) std::memcpy(at, texts[i], lengths.of[i]);
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
        auto* grown = static_cast<client_record*>(table.allocate(record, sizeof(client_record) + room));
        if (grown == nullptr) {
            // The older request stays in the record, but is no longer the
            // client's last: it is not reported.
            record->withheld = true;
            return store_outcome::out_of_memory;
        }
        record = grown;
        record->capacity = static_cast<std::uint16_t>(room);
    }
    fill(*record, request, key, lengths);
    return store_outcome::stored;
}

// Records a new client, which belongs in the free slot at.
store_outcome insert(client_table& table, std::uint32_t hash, const dhcp_request& request,
                     byte_view key, const text_lengths& lengths) {
    if (table.count >= table.limits.max_clients) return store_outcome::table_full;
    if (table.count == table.records_capacity) {
        const std::uint32_t capacity = table.records_capacity == 0 ? 64 : table.records_capacity * 2;
        auto* records = static_cast<client_record**>(
            table.allocate(table.records, capacity * sizeof(client_record*)));
        if (records == nullptr) return store_outcome::out_of_memory;
        table.records = records;
        table.records_capacity = capacity;
    }
    if (2 * (table.count + 1) > table.slot_count && !grow_index(table)) {
        return store_outcome::out_of_memory;
    }
    const std::size_t room = room_for(lengths.total);
    auto* record = static_cast<client_record*>(table.allocate(nullptr, sizeof(client_record) + room));
    if (record == nullptr) return store_outcome::out_of_memory;
    record->hash = hash;
    record->capacity = static_cast<std::uint16_t>(room);
    fill(*record, request, key, lengths);
    table.records[table.count++] = record;
    slot_for(table, hash, key) = {hash, table.count};
    return store_outcome::stored;
}

}  // namespace

client_table* create_client_table(client_limits limits, table_allocator allocate) {
    if (allocate == nullptr) allocate = std::realloc;
    auto* table = static_cast<client_table*>(allocate(nullptr, sizeof(client_table)));
    if (table != nullptr) *table = client_table{allocate, limits, 0, 0, nullptr, 0, nullptr};
    return table;
}

const client_limits& limits_of(const client_table& table) { return table.limits; }

void destroy_client_table(client_table* table) {
    if (table == nullptr) return;
    for (std::uint32_t i = 0; i < table->count; ++i) std::free(table->records[i]);
    std::free(table->records);
    std::free(table->slots);
    std::free(table);
}

store_outcome store_request(client_table& table, const dhcp_request& request) {
    const byte_view key = key_of(request);
    const text_lengths lengths = lengths_of(request, key);
    const std::uint32_t hash = hash_of(key);
    if (table.slot_count != 0) {
        const client_slot& slot = slot_for(table, hash, key);
        if (slot.record != 0) return update(table, slot, request, key, lengths);
    }
    return insert(table, hash, request, key, lengths);
}

std::uint32_t client_count(const client_table& table) { return table.count; }

bool client_request(const client_table& table, std::uint32_t i, dhcp_request& out) {
    const client_record& record = *table.records[i];
    if (record.withheld) return false;
    out = dhcp_request{};
    out.chaddr = byte_view(record.field(address), record.length[address]);
    out.chaddr_captured = true;
    out.vlan_id = record.vlan_id;
    out.ip_ttl = record.ip_ttl;
    out.message_type = dhcp_request_type;
    std::memcpy(out.req_ipaddr, record.req_ipaddr, sizeof out.req_ipaddr);
    std::memcpy(out.remote_id, record.remote_id, sizeof record.remote_id);
    out.circuit_vlan = record.circuit_vlan;
    out.circuit_unit = record.circuit_unit;
    out.circuit_port = record.circuit_port;
    char* texts[text_fields] = {nullptr, out.option_codes, out.parameter_list, out.vendor_class,
                                out.hostname};
    for (int field = option_codes; field < text_fields; ++field) {
        std::memcpy(texts[field], record.field(field), record.length[field]);
    }
    out.option_count = record.length[option_codes];
    return true;
}

}  // namespace dhcpident
