#include <algorithm>
#include <array>
#include <cstring>

#include "base/byte_view.h"
#include "dhcp/dhcp_request.h"
#include "dhcp/frame_layout.h"

namespace dhcpident {
namespace {

// DHCP option codes, RFC 2132 and RFC 3046.
constexpr std::uint8_t option_pad = 0;
constexpr std::uint8_t option_host_name = 12;
constexpr std::uint8_t option_requested_address = 50;
constexpr std::uint8_t option_message_type = 53;
constexpr std::uint8_t option_parameter_list = 55;
constexpr std::uint8_t option_vendor_class = 60;
constexpr std::uint8_t option_relay_agent = 82;
constexpr std::uint8_t option_end = 255;

constexpr std::uint8_t agent_suboption_circuit_id = 1;  // RFC 3046
constexpr std::uint8_t agent_suboption_remote_id = 2;   // RFC 3046
// A circuit-id is read only in the form type 0, length 4: VLAN (2 bytes),
// unit, port.
constexpr std::uint8_t circuit_id_type_vlan_unit_port = 0;
constexpr std::uint8_t circuit_id_length_vlan_unit_port = 4;
constexpr std::size_t remote_id_header_length = 2;  // type and length inside the value

constexpr std::size_t max_option_codes = byte_string_size - 1;

// What the decoder does with an option's value.
enum class option_use : std::uint8_t {
    none,
    message_type,
    requested_address,
    parameter_list,
    vendor_class,
    host_name,
    relay_agent,
};

// Each option code's handling: its use, whether its code joins the list of
// codes (all but pad, end and relay information), and the value bytes the
// use reads whatever the length byte says: some clients send option 53
// with length 0 and option 50 short, and the value is still read from the
// bytes that follow. An option is applied only when those were captured.
struct option_rule {
    option_use use;
    bool listed;
    std::uint8_t least_value_bytes;
};

constexpr option_rule rule_of(std::uint8_t code) {
    switch (code) {
    case option_pad:
    case option_end:
        return {option_use::none, false, 0};
    case option_message_type:
        return {option_use::message_type, true, 1};
    case option_requested_address:
        return {option_use::requested_address, true, 4};
    case option_parameter_list:
        return {option_use::parameter_list, true, 0};
    case option_vendor_class:
        return {option_use::vendor_class, true, 0};
    case option_host_name:
        return {option_use::host_name, true, 0};
    case option_relay_agent:
        return {option_use::relay_agent, false, 0};
    default:
        return {option_use::none, true, 0};
    }
}

// The rules as a table by code, as the walk over every frame's options
// looks one up for each option: a byte each (the use in the low three
// bits, whether listed in the next, the least value bytes above), so that
// the table takes 256 bytes of a router program, not a kilobyte.
constexpr std::uint8_t listed_bit = 8;
constexpr int least_value_shift = 4;
constexpr std::array<std::uint8_t, 256> option_rules = [] {
    std::array<std::uint8_t, 256> rules{};
    for (std::size_t code = 0; code < rules.size(); ++code) {
        const option_rule rule = rule_of(static_cast<std::uint8_t>(code));
        rules[code] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(rule.use) |
                                                (rule.listed ? listed_bit : 0) |
                                                rule.least_value_bytes << least_value_shift);
    }
    return rules;
}();
static_assert(static_cast<int>(option_use::relay_agent) < listed_bit);

constexpr option_rule rule_for(std::uint8_t code) {
    const std::uint8_t packed = option_rules[code];
    return {static_cast<option_use>(packed & (listed_bit - 1)), (packed & listed_bit) != 0,
            static_cast<std::uint8_t>(packed >> least_value_shift)};
}

// Walks code/length/value items from start while the consumed count is below
// limit. Every item is read as a code with a length byte, pad and end
// included, so the walk never stops at an end option: it runs to the limit.
// It stops early at an item whose code and length were not both captured, or
// when visit returns false (it found bytes it needs missing).
template <typename Visit>
void walk_items(byte_view frame, std::size_t start, std::size_t limit, Visit visit) {
    std::size_t position = start;
    for (std::size_t consumed = 0; consumed < limit;) {
        // An end option as the last captured byte has no length byte: the
        // walk ends there, with everything before it decoded.
        if (!frame.has(position, 2)) return;
        const std::uint8_t code = frame.u8(position);
        const std::uint8_t length = frame.u8(position + 1);
        if (!visit(code, length, position + 2)) return;
        position += 2 + std::size_t{length};
        consumed += 2 + std::size_t{length};
    }
}

// A byte string of the record, written so that it reads as a buffer
// cleared for this frame would: a repeated value is copied over the earlier
// one without clearing it (a shorter later value leaves the earlier one's
// tail), and the zero behind the longest value copied in this frame ends
// the text where the cleared buffer's zero would. So the kilobyte-sized
// record need not be cleared whole for every frame.
class value_buffer {
public:
    explicit value_buffer(char* bytes) : bytes_(bytes) { bytes_[0] = '\0'; }

    // length is at most 255, so the zero at bytes[255] stays in the buffer.
    void copy(byte_view frame, std::size_t at, std::size_t length) {
        if (!frame.copy_to(at, length, reinterpret_cast<std::uint8_t*>(bytes_))) return;
        if (length > filled_) filled_ = length;
        bytes_[filled_] = '\0';
    }

private:
    char* bytes_;
    std::size_t filled_ = 0;
};

// Clears what a frame's decoding reads back: every number, and each byte
// string up to its first byte. The remote-id's first six bytes are printed
// whatever they hold, so those stay cleared too.
void reset(dhcp_request& out) {
    out.vlan_id = 0;
    out.ip_ttl = 0;
    out.chaddr = byte_view();
    out.chaddr_captured = false;
    out.message_type = 0;
    std::memset(out.req_ipaddr, 0, sizeof out.req_ipaddr);
    out.option_count = 0;
    out.option_codes[0] = '\0';
    std::memset(out.remote_id, 0, remote_id_printed_bytes);
    out.circuit_vlan = 0;
    out.circuit_unit = 0;
    out.circuit_port = 0;
}

// Option 82's sub-options. One that is not wholly captured (the bytes that
// are read for it) ends this walk; the option walk goes on.
void decode_relay_agent(byte_view frame, std::size_t value, std::uint8_t length,
                        dhcp_request& out, value_buffer& remote_id) {
    walk_items(frame, value, length,
               [&](std::uint8_t sub, std::uint8_t sub_length, std::size_t at) {
                   if (sub == agent_suboption_circuit_id) {
                       // The type and length test reads the first two value
                       // bytes whatever the sub-option's own length says.
                       if (!frame.has(at, 2)) return false;
                       if (frame.u8(at) == circuit_id_type_vlan_unit_port &&
                           frame.u8(at + 1) == circuit_id_length_vlan_unit_port) {
                           if (!frame.has(at + 2, 4)) return false;
                           out.circuit_vlan = frame.be16(at + 2);  // all 16 bits
                           out.circuit_unit = frame.u8(at + 4);
                           out.circuit_port = frame.u8(at + 5);
                       }
                   } else if (sub == agent_suboption_remote_id) {
                       if (!frame.has(at, sub_length)) return false;
                       // A remote-id too short for its own type and length
                       // bytes carries no identifier.
                       if (sub_length >= remote_id_header_length) {
                           remote_id.copy(frame, at + remote_id_header_length,
                                          sub_length - remote_id_header_length);
                       }
                   }
                   return true;
               });
}

// Walks the DHCP options of a frame that reaches its options, calling
// apply(code, length, value offset) for each option whose value was wholly
// captured. An option whose value was not ends the walk unapplied: real
// clients pad the area after the end option with zeros, and captures often
// end inside that padding; what came before still stands.
template <typename Apply>
void walk_options(byte_view frame, const frame_layout& layout, Apply apply) {
    const std::size_t udp_length = frame.be16(layout.udp + udp_length_offset);
    const std::size_t options_area =
        udp_length > udp_length_before_options ? udp_length - udp_length_before_options : 0;
    walk_items(frame, layout.options, options_area,
               [&](std::uint8_t code, std::uint8_t length, std::size_t at) {
                   const std::size_t needed =
                       std::max<std::size_t>(length, rule_for(code).least_value_bytes);
                   if (!frame.has(at, needed)) return false;
                   apply(code, length, at);
                   return true;
               });
}

}  // namespace

std::uint8_t dhcp_message_type(byte_view frame, const frame_layout& layout) {
    std::uint8_t type = 0;
    walk_options(frame, layout, [&](std::uint8_t code, std::uint8_t, std::size_t at) {
        if (code == option_message_type) type = frame.u8(at);
    });
    return type;
}

void decode_dhcp_request(byte_view frame, std::uint16_t link_header_len, dhcp_request& out) {
    reset(out);
    value_buffer parameter_list(out.parameter_list), vendor_class(out.vendor_class),
        hostname(out.hostname), remote_id(out.remote_id);
    const frame_layout layout = locate_headers(frame, link_header_len);
    out.vlan_id = layout.vlan_id;
    const address_state address = client_address(frame, layout, out.chaddr);
    if (address == address_state::frame_cut_short) return;
    out.chaddr_captured = address == address_state::captured;
    out.ip_ttl = frame.u8(layout.ip + ip_ttl_offset);

    walk_options(frame, layout, [&](std::uint8_t code, std::uint8_t length, std::size_t at) {
        const option_rule rule = rule_for(code);
        if (rule.listed && out.option_count < max_option_codes) {
            out.option_codes[out.option_count++] = static_cast<char>(code);
            out.option_codes[out.option_count] = '\0';
        }
        switch (rule.use) {
        case option_use::message_type:
            out.message_type = frame.u8(at);
            break;
        case option_use::requested_address:
            frame.copy_to(at, 4, out.req_ipaddr);
            break;
        case option_use::parameter_list:
            parameter_list.copy(frame, at, length);
            break;
        case option_use::vendor_class:
            vendor_class.copy(frame, at, length);
            break;
        case option_use::host_name:
            hostname.copy(frame, at, length);
            break;
        case option_use::relay_agent:
            decode_relay_agent(frame, at, length, out, remote_id);
            break;
        case option_use::none:
            break;
        }
    });
}

}  // namespace dhcpident
