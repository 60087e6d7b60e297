#include "dhcp/report.h"

#include "base/output.h"
#include "fingerprint/fingerprint.h"
#include "fingerprint/names.h"
#include "text/json.h"
#include "text/render.h"

namespace dhcpident {
namespace {

// A field's key in each format, with its length, so that it is written
// without being measured.
struct field_key {
    const char* text;
    std::size_t text_length;
    const char* json;
    std::size_t json_length;
};

template <std::size_t text_size, std::size_t json_size>
constexpr field_key key(const char (&text)[text_size], const char (&json)[json_size]) {
    return {text, text_size - 1, json, json_size - 1};
}

// How a format writes what print_report gives it. Which fields a report
// has, in which order, and their values are decided in print_report alone.
// Text: "key='value'" lines, values as they are, an empty line at the end.
// JSON: one object on one line, strings escaped, numbers as numbers.
class report_writer {
public:
    explicit report_writer(report_format format) : json_(format == report_format::json) {
        if (json_) out_char('{');
    }

    void text(const field_key& key, const char* value) {
        if (json_) {
            put_json_key(key);
            put_json_string(value);
        } else {
            out_bytes(key.text, key.text_length);
            out_bytes("='", 2);
            out_text(value);
            out_bytes("'\n", 2);
        }
    }

    void number(const field_key& key, unsigned value) {
        if (json_) {
            put_json_key(key);
            out_format("%u", value);
        } else {
            out_bytes(key.text, key.text_length);
            out_format("='%u'\n", value);
        }
    }

    // A field of JSON alone: true.
    void flag(const field_key& key) {
        if (!json_) return;
        put_json_key(key);
        out_bytes("true", 4);
    }

    // A field the request does not have whose line the text report keeps,
    // empty, so that the lines behind it stay in their places.
    void kept_empty() {
        if (!json_) out_char('\n');
    }

    // Option 82, the one line of the text report not of the form
    // key='value'.
    void relay_agent(const char* remote_id, unsigned vlan, unsigned unit, unsigned port) {
        if (json_) {
            out_format(",\"option82\":{\"remote_id\":\"%s\",\"circuit\":"
                       "{\"vlan\":%u,\"unit\":%u,\"port\":%u}}",
                       remote_id, vlan, unit, port);
        } else {
            out_format("option82=remote_id %s circuit_id vlan %u unit %u port %u\n", remote_id,
                       vlan, unit, port);
        }
    }

    void finish() {
        if (json_) {
            out_bytes("}\n", 2);
        } else {
            out_char('\n');
        }
    }

private:
    void put_json_key(const field_key& key) {
        if (!first_) out_char(',');
        first_ = false;
        out_char('"');
        out_bytes(key.json, key.json_length);
        out_bytes("\":", 2);
    }

    bool json_;
    bool first_ = true;
};

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

}  // namespace

void print_report(const dhcp_request& request, report_format format) {
    report_writer out(format);
    // Each value is rendered as it is written: the renderers' buffers are
    // overwritten by the next call (the address and the remote-id share one).
    out.text(key("mac", "mac"), hex_colon_text(request.chaddr));
    if (request.vlan_id != 0) {
        out.number(key("VLAN", "vlan"), request.vlan_id);
    } else {
        out.kept_empty();
    }
    const std::uint8_t ttl_class = initial_ttl_class(request.ip_ttl);
    const fingerprint found = lookup_fingerprint(ttl_class, request.option_codes,
                                                 request.parameter_list, request.vendor_class);
    // A name from the table says what the vendor class would.
    if (!found.matched) out.text(key("dhcpvendor", "dhcpvendor"), request.vendor_class);
    out.text(key("fingerprint", "fingerprint"), found.text);
    // With --names: the device and its maker, each when known. An address
    // the client made up is no maker's.
    if (names_wanted()) {
        if (const char* device = device_of(ttl_class, request.option_codes, request.parameter_list,
                                           request.vendor_class)) {
            out.text(key("device", "device"), device);
        }
        if (is_randomized(request.chaddr)) {
            out.text(key("maker", "maker"), "randomized address");
            out.flag(key("randomized", "randomized"));
        } else if (const char* maker = maker_of(request.chaddr)) {
            out.text(key("maker", "maker"), maker);
        }
    }
    if (request.hostname[0] != '\0') out.text(key("hostname", "hostname"), request.hostname);
    if (!all_zero(request.req_ipaddr, sizeof request.req_ipaddr)) {
        out.text(key("req_ipaddr", "req_ipaddr"), dotted_quad_text(request.req_ipaddr));
    }
    // A remote-id whose first byte is 0 counts as absent, whatever follows.
    if (request.remote_id[0] != '\0') {
        out.relay_agent(hex_colon_text(printed_remote_id(request)), request.circuit_vlan,
                        request.circuit_unit, request.circuit_port);
    }
    out.finish();
}

}  // namespace dhcpident
