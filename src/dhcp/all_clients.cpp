#include "dhcp/all_clients.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dhcp/frame_layout.h"
#include "dhcp/report.h"
#include "driver/output.h"

namespace dhcpident {
namespace {

// A rendered address is cut at 254 characters, the text of 85 bytes: two
// addresses that agree in those bytes are one client, as for the target.
constexpr std::size_t max_key_bytes = 85;
constexpr std::size_t remote_id_kept = 6;  // what the report prints of it

// The texts a record keeps, in this order, behind its fixed part.
enum text_field { address, option_codes, parameter_list, vendor_class, hostname, text_fields };

// One client: the fixed fields of its last request, then that request's
// texts, packed, each at most 255 bytes. The texts of a later request are
// written over them, and the record grows only when they do not fit.
struct client_record {
    std::uint32_t hash;
    std::uint16_t capacity;  // bytes of text behind the record
    std::uint16_t vlan_id;
    std::uint16_t circuit_vlan;
    std::uint8_t circuit_unit;
    std::uint8_t circuit_port;
    std::uint8_t ip_ttl;
    std::uint8_t req_ipaddr[4];
    std::uint8_t remote_id[remote_id_kept];
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

// A slot of the table's index: the hash beside the record's number, so that
// a probe rarely has to reach the record itself, which lies elsewhere in
// memory, to tell one client from another.
struct client_slot {
    std::uint32_t hash;
    std::uint32_t record;  // index + 1; 0 is free
};

}  // namespace

struct client_table {
    std::uint32_t max_clients;
    std::uint32_t count;
    std::uint32_t records_capacity;
    client_record** records;  // in the order of first requests
    std::uint32_t slot_count;  // a power of two, at least twice count
    client_slot* slots;
    bool warned;
};

namespace {

bool grow_slots(client_table& table) {
    const std::uint32_t slot_count = table.slot_count == 0 ? 64 : table.slot_count * 2;
    auto* slots = static_cast<client_slot*>(std::calloc(slot_count, sizeof(client_slot)));
    if (slots == nullptr) return false;
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

// The key of a request: the address bytes its text shows.
byte_view key_of(const dhcp_request& request) {
    return request.chaddr.sub(0, request.chaddr.size() < max_key_bytes ? request.chaddr.size()
                                                                        : max_key_bytes);
}

bool same_key(const client_record& record, byte_view key) {
    if (record.length[address] != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (record.text()[i] != key.u8(i)) return false;
    }
    return true;
}

// Writes request into record, whose texts must fit its capacity.
void fill(client_record& record, const dhcp_request& request, byte_view key,
          const std::size_t (&lengths)[text_fields]) {
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
        record.length[i] = static_cast<std::uint8_t>(lengths[i]);
        if (i != address) std::memcpy(at, texts[i], lengths[i]);
        at += lengths[i];
    }
}

}  // namespace

client_table* create_client_table(std::uint32_t max_clients) {
    auto* table = static_cast<client_table*>(std::calloc(1, sizeof(client_table)));
    if (table != nullptr) table->max_clients = max_clients;
    return table;
}

void destroy_client_table(client_table* table) {
    if (table == nullptr) return;
    for (std::uint32_t i = 0; i < table->count; ++i) std::free(table->records[i]);
    std::free(table->records);
    std::free(table->slots);
    std::free(table);
}

bool record_request(client_table& table, const dhcp_request& request) {
    const byte_view key = key_of(request);
    // Each text up to its first zero, as the report reads it; at most 255.
    const std::size_t lengths[text_fields] = {
        key.size(), std::strlen(request.option_codes), std::strlen(request.parameter_list),
        std::strlen(request.vendor_class), std::strlen(request.hostname)};
    std::size_t needed = 0;
    for (std::size_t length : lengths) needed += length;

    const std::uint32_t hash = hash_of(key);
    std::uint32_t at = 0;
    if (table.slot_count != 0) {
        for (at = hash & (table.slot_count - 1); table.slots[at].record != 0;
             at = (at + 1) & (table.slot_count - 1)) {
            if (table.slots[at].hash != hash) continue;
            client_record*& record = table.records[table.slots[at].record - 1];
            if (!same_key(*record, key)) continue;
            if (needed > record->capacity) {
                // Longer texts than this client sent before: the one case
                // in which a record is allocated again.
                auto* grown = static_cast<client_record*>(
                    std::realloc(record, sizeof(client_record) + room_for(needed)));
                if (grown == nullptr) return true;  // keeps the request before
                record = grown;
                record->capacity = static_cast<std::uint16_t>(room_for(needed));
            }
            fill(*record, request, key, lengths);
            return true;
        }
    }

    if (table.count >= table.max_clients) {
        if (!table.warned) {
            std::fprintf(stderr,
                         "Warning: Client table full (%u clients), further clients not reported\n",
                         static_cast<unsigned>(table.max_clients));
            table.warned = true;
        }
        return false;
    }
    auto out_of_memory = [&table] {
        if (!table.warned) {
            std::fputs("Warning: Out of memory, further clients not reported\n", stderr);
            table.warned = true;
        }
        return false;
    };
    if (table.count == table.records_capacity) {
        const std::uint32_t capacity = table.records_capacity == 0 ? 64 : table.records_capacity * 2;
        auto* records = static_cast<client_record**>(
            std::realloc(table.records, capacity * sizeof(client_record*)));
        if (records == nullptr) return out_of_memory();
        table.records = records;
        table.records_capacity = capacity;
    }
    if (2 * (table.count + 1) > table.slot_count && !grow_slots(table)) return out_of_memory();
    auto* record = static_cast<client_record*>(std::malloc(sizeof(client_record) + room_for(needed)));
    if (record == nullptr) return out_of_memory();
    record->hash = hash;
    record->capacity = static_cast<std::uint16_t>(room_for(needed));
    fill(*record, request, key, lengths);
    for (at = hash & (table.slot_count - 1); table.slots[at].record != 0;
         at = (at + 1) & (table.slot_count - 1)) {
    }
    table.records[table.count++] = record;
    table.slots[at] = {hash, table.count};
    return true;
}

void handle_packet_all(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
    ++the_run.processed_count;
    const byte_view frame(bytes, header->caplen);
    // Most frames are no request at all: the address and the message type
    // tell, without decoding the rest.
    const frame_layout layout = locate_headers(frame, the_run.link_header_len);
    byte_view address;
    if (client_address(frame, layout, address) != address_state::captured ||
        dhcp_message_type(frame, layout) != dhcp_request_type) {
        return;
    }
    dhcp_request request;
    decode_dhcp_request(frame, the_run.link_header_len, request);
    record_request(*reinterpret_cast<client_table*>(user), request);
}

void print_client_reports(const client_table& table, report_format format) {
    for (std::uint32_t i = 0; i < table.count; ++i) {
        const client_record& record = *table.records[i];
        // The request again, as the decoder gave it, for the one report
        // printer both modes share.
        dhcp_request request{};
        request.chaddr = byte_view(record.field(address), record.length[address]);
        request.chaddr_captured = true;
        request.vlan_id = record.vlan_id;
        request.ip_ttl = record.ip_ttl;
        request.message_type = dhcp_request_type;
        std::memcpy(request.req_ipaddr, record.req_ipaddr, sizeof request.req_ipaddr);
        std::memcpy(request.remote_id, record.remote_id, sizeof record.remote_id);
        request.circuit_vlan = record.circuit_vlan;
        request.circuit_unit = record.circuit_unit;
        request.circuit_port = record.circuit_port;
        char* texts[text_fields] = {nullptr, request.option_codes, request.parameter_list,
                                    request.vendor_class, request.hostname};
        for (int field = option_codes; field < text_fields; ++field) {
            std::memcpy(texts[field], record.field(field), record.length[field]);
        }
        request.option_count = record.length[option_codes];
        // Cleared first, so that a write failing in this report leaves its
        // own reason, not one left over from anything before.
        errno = 0;
        print_report(request, format);
        if (output_failed()) return;  // the rest would be lost as well
    }
}

}  // namespace dhcpident
