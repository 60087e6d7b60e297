#include "dhcp/all_clients.h"

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "base/output.h"
#include "dhcp/request.h"

namespace dhcpident {
namespace {

// A request's entry in the table: these fields, packed, then its texts,
// each up to its first zero, as the report reads them (at most 255 bytes
// each), in the order of length. The address is the client's key.
struct __attribute__((packed)) request_fields {
    std::uint16_t vlan_id;
    std::uint16_t circuit_vlan;
    std::uint8_t circuit_unit;
    std::uint8_t circuit_port;
    std::uint8_t ip_ttl;
    std::uint8_t req_ipaddr[4];
    std::uint8_t remote_id[remote_id_printed_bytes];
    std::uint8_t length[4];  // option codes, parameter list, vendor class, host name
};

constexpr std::size_t request_texts = 4;
constexpr std::size_t largest_request_entry = sizeof(request_fields) + request_texts * 255;

void warn_once(all_clients& clients, store_outcome outcome) {
    if (clients.warned) return;
    const client_limits& limits = limits_of(*clients.table);
    switch (outcome) {
    case store_outcome::table_full:
        say("Warning: Client table full (%u clients), further clients not reported\n",
                     static_cast<unsigned>(limits.max_clients));
        break;
    case store_outcome::over_budget:
        say("Warning: Client table full (%lu bytes), further clients not reported\n",
                     static_cast<unsigned long>(limits.max_memory));
        break;
    case store_outcome::crowded:
        say("Warning: Client index crowded (%u probes), further clients not reported\n",
                     static_cast<unsigned>(max_probe));
        break;
    case store_outcome::out_of_memory:
    case store_outcome::stored:
        say("Warning: Out of memory, further clients not reported\n");
        break;
    }
    clients.warned = true;
}

}  // namespace

client_table* create_request_table(client_limits limits, hash_key key, const page_source* pages) {
    return create_client_table(limits, key,
                               table_shape{largest_request_entry, sizeof(request_fields), false},
                               pages);
}

store_outcome store_request(client_table& table, const dhcp_request& request) {
    const char* texts[request_texts] = {request.option_codes, request.parameter_list,
                                        request.vendor_class, request.hostname};
    request_fields fields{request.vlan_id, request.circuit_vlan, request.circuit_unit,
                          request.circuit_port, request.ip_ttl, {}, {}, {}};
    std::memcpy(fields.req_ipaddr, request.req_ipaddr, sizeof fields.req_ipaddr);
    std::memcpy(fields.remote_id, request.remote_id, sizeof fields.remote_id);
    std::size_t size = sizeof fields;
    for (std::size_t i = 0; i < request_texts; ++i) {
        fields.length[i] = static_cast<std::uint8_t>(std::strlen(texts[i]));
        size += fields.length[i];
    }
    store_outcome outcome = store_outcome::stored;
    unsigned char* at = store_entry(table, client_key(request.chaddr), size, outcome);
    if (at == nullptr) return outcome;
    std::memcpy(at, &fields, sizeof fields);
    at += sizeof fields;
    for (std::size_t i = 0; i < request_texts; ++i) {
        std::memcpy(at, texts[i], fields.length[i]);
        at += fields.length[i];
    }
    return outcome;
}

bool client_request(const client_table& table, std::uint32_t i, dhcp_request& out) {
    byte_view key, entry;
    if (!client_entry(table, i, key, entry)) return false;
    request_fields fields{};
    entry.copy_to(0, sizeof fields, reinterpret_cast<std::uint8_t*>(&fields));
    out = dhcp_request{};
    out.chaddr = key;
    out.chaddr_captured = true;
    out.vlan_id = fields.vlan_id;
    out.ip_ttl = fields.ip_ttl;
    out.message_type = dhcp_request_type;
    std::memcpy(out.req_ipaddr, fields.req_ipaddr, sizeof out.req_ipaddr);
    std::memcpy(out.remote_id, fields.remote_id, sizeof fields.remote_id);
    out.circuit_vlan = fields.circuit_vlan;
    out.circuit_unit = fields.circuit_unit;
    out.circuit_port = fields.circuit_port;
    char* texts[request_texts] = {out.option_codes, out.parameter_list, out.vendor_class,
                                  out.hostname};
    std::size_t at = sizeof fields;
    for (std::size_t t = 0; t < request_texts; ++t) {
        entry.copy_to(at, fields.length[t], reinterpret_cast<std::uint8_t*>(texts[t]));
        at += fields.length[t];
    }
    out.option_count = fields.length[0];
    return true;
}

void handle_frame_all(byte_view frame, capture_run& run, all_clients& clients) {
    ++run.processed_count;
    byte_view address;
    if (!is_dhcp_request(frame, run.link_header_len, address)) return;
    dhcp_request request;
    decode_dhcp_request(frame, run.link_header_len, request);
    const store_outcome outcome = store_request(*clients.table, request);
    if (outcome != store_outcome::stored) warn_once(clients, outcome);
}

void print_client_reports(const client_table& table, report_format format, bool (*stop)()) {
    dhcp_request request;
    for (std::uint32_t i = 0; i < client_count(table); ++i) {
        if (stop != nullptr && stop()) return;
        if (!client_request(table, i, request)) continue;
        print_report(request, format);
        if (output_failed()) return;
    }
}

}  // namespace dhcpident
