#include "dhcp/report.h"

#include "driver/output.h"
#include "fingerprint/fingerprint.h"
#include "text/json.h"
#include "text/render.h"

namespace dhcpident {
namespace {

bool all_zero(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

byte_view printed_remote_id(const dhcp_request& request) {
    return byte_view(reinterpret_cast<const std::uint8_t*>(request.remote_id),
                     remote_id_printed_bytes);
}

// "key='value'" and a line break. Written piece by piece, the key's length
// known here: the same bytes as printf's "%s", for a fraction of its cost
// over thousands of reports.
template <std::size_t key_size>
void put_line(const char (&key)[key_size], const char* value) {
    out_bytes(key, key_size - 1);
    out_bytes("='", 2);
    out_text(value);
    out_bytes("'\n", 2);
}

// Values are written as they are, without escaping; the option82 line is
// the one line not of the form key='value'.
void print_text_report(const dhcp_request& request) {
    put_line("mac", hex_colon_text(request.chaddr));
    if (request.vlan_id != 0) {
        out_format("VLAN='%u'\n", static_cast<unsigned>(request.vlan_id));
    } else {
        out_char('\n');  // the line stays, empty
    }
    // Without a table match the lookup prints the dhcpvendor line itself.
    const char* fingerprint =
        lookup_fingerprint(initial_ttl_class(request.ip_ttl), request.option_codes,
                           request.parameter_list, request.vendor_class);
    put_line("fingerprint", fingerprint);
    if (request.hostname[0] != '\0') put_line("hostname", request.hostname);
    if (!all_zero(request.req_ipaddr, sizeof request.req_ipaddr)) {
        put_line("req_ipaddr", dotted_quad_text(request.req_ipaddr));
    }
    // A remote-id whose first byte is 0 counts as absent, whatever follows.
    if (request.remote_id[0] != '\0') {
        out_format("option82=remote_id %s circuit_id vlan %u unit %u port %u\n",
                   hex_colon_text(printed_remote_id(request)),
                   static_cast<unsigned>(request.circuit_vlan),
                   static_cast<unsigned>(request.circuit_unit),
                   static_cast<unsigned>(request.circuit_port));
    }
    out_char('\n');
}

template <std::size_t key_size>
void put_field(const char (&key)[key_size], const char* value) {
    out_bytes(",\"", 2);
    out_bytes(key, key_size - 1);
    out_bytes("\":", 2);
    put_json_string(value);
}

void print_json_report(const dhcp_request& request) {
    out_text("{\"mac\":");
    put_json_string(hex_colon_text(request.chaddr));
    if (request.vlan_id != 0) out_format(",\"vlan\":%u", static_cast<unsigned>(request.vlan_id));
    const fingerprint found = fingerprint_of(initial_ttl_class(request.ip_ttl), request.option_codes,
                                             request.parameter_list, request.vendor_class);
    if (!found.matched) put_field("dhcpvendor", request.vendor_class);
    put_field("fingerprint", found.text);
    if (request.hostname[0] != '\0') put_field("hostname", request.hostname);
    if (!all_zero(request.req_ipaddr, sizeof request.req_ipaddr)) {
        put_field("req_ipaddr", dotted_quad_text(request.req_ipaddr));
    }
    if (request.remote_id[0] != '\0') {
        out_format(",\"option82\":{\"remote_id\":\"%s\",\"circuit\":"
                   "{\"vlan\":%u,\"unit\":%u,\"port\":%u}}",
                   hex_colon_text(printed_remote_id(request)),
                   static_cast<unsigned>(request.circuit_vlan),
                   static_cast<unsigned>(request.circuit_unit),
                   static_cast<unsigned>(request.circuit_port));
    }
    out_text("}\n");
}

}  // namespace

void print_report(const dhcp_request& request, report_format format) {
    if (format == report_format::json) {
        print_json_report(request);
    } else {
        print_text_report(request);
    }
}

}  // namespace dhcpident
