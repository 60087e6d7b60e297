#include "dhcp/report.h"

#include <cstdio>

#include "fingerprint/fingerprint.h"
#include "text/json.h"
#include "text/render.h"

namespace dhcpident {
namespace {

constexpr std::size_t remote_id_printed_bytes = 6;

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

// "key='value'" and a line break. Written piece by piece: the same bytes as
// printf's "%s", for a fraction of its cost over thousands of reports.
void put_line(const char* key, const char* value) {
    std::fputs(key, stdout);
    std::fputs("='", stdout);
    std::fputs(value, stdout);
    std::fputs("'\n", stdout);
}

// Values are written as they are, without escaping; the option82 line is
// the one line not of the form key='value'.
void print_text_report(const dhcp_request& request) {
    put_line("mac", hex_colon_text(request.chaddr));
    if (request.vlan_id != 0) {
        std::printf("VLAN='%u'\n", static_cast<unsigned>(request.vlan_id));
    } else {
        std::fputs("\n", stdout);  // the line stays, empty
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
        std::printf("option82=remote_id %s circuit_id vlan %u unit %u port %u\n",
                    hex_colon_text(printed_remote_id(request)),
                    static_cast<unsigned>(request.circuit_vlan),
                    static_cast<unsigned>(request.circuit_unit),
                    static_cast<unsigned>(request.circuit_port));
    }
    std::fputs("\n", stdout);
}

void put_field(const char* key, const char* value) {
    std::fputs(",\"", stdout);
    std::fputs(key, stdout);
    std::fputs("\":", stdout);
    put_json_string(stdout, value);
}

void print_json_report(const dhcp_request& request) {
    std::fputs("{\"mac\":", stdout);
    put_json_string(stdout, hex_colon_text(request.chaddr));
    if (request.vlan_id != 0) std::printf(",\"vlan\":%u", static_cast<unsigned>(request.vlan_id));
    const char* name = match_fingerprint(initial_ttl_class(request.ip_ttl), request.option_codes,
                                         request.parameter_list, request.vendor_class);
    if (name == nullptr) put_field("dhcpvendor", request.vendor_class);
    put_field("fingerprint", name != nullptr ? name : decimal_list_text(request.parameter_list));
    if (request.hostname[0] != '\0') put_field("hostname", request.hostname);
    if (!all_zero(request.req_ipaddr, sizeof request.req_ipaddr)) {
        put_field("req_ipaddr", dotted_quad_text(request.req_ipaddr));
    }
    if (request.remote_id[0] != '\0') {
        std::printf(",\"option82\":{\"remote_id\":\"%s\",\"circuit\":"
                    "{\"vlan\":%u,\"unit\":%u,\"port\":%u}}",
                    hex_colon_text(printed_remote_id(request)),
                    static_cast<unsigned>(request.circuit_vlan),
                    static_cast<unsigned>(request.circuit_unit),
                    static_cast<unsigned>(request.circuit_port));
    }
    std::fputs("}\n", stdout);
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
