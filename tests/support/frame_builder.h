// Builds DHCP frames byte by byte for tests, the sample capture and the
// benchmarks.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace testkit {

using bytes = std::vector<std::uint8_t>;
using mac_address = std::array<std::uint8_t, 6>;

// One DHCP option: code, length, value.
bytes option(std::uint8_t code, const bytes& value);
bytes option(std::uint8_t code, std::string_view text);
bytes concat(std::initializer_list<bytes> parts);

// Option 82 with a circuit-id of type 0 length 4 (VLAN, unit, port) and a
// remote-id of type 0 length 6 holding a MAC.
bytes relay_agent_option(std::uint16_t vlan, std::uint8_t unit, std::uint8_t port,
                         const mac_address& remote);

struct dhcp_frame {
    mac_address client{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    std::optional<std::uint16_t> vlan_tci;  // 802.1Q tag control when tagged
    std::uint8_t ttl = 64;
    std::uint8_t hlen = 6;
    std::uint8_t message_type = 3;          // option 53 first, unless 0
    bytes options;                          // the rest, an end option is appended
    std::optional<std::uint16_t> udp_length;  // default: what the frame holds
    bool ethernet = true;                   // false: starts at the IP header
};

bytes build(const dhcp_frame& frame);

// count distinct client addresses (02:...) whose FNV-1a hashes, the index's
// hash before it took a key, agree in their low 17 bits: with the hash as
// it was, each would be one more step on one single probe run.
std::vector<mac_address> fnv_colliding_addresses(std::size_t count);

// A frame that is no DHCP at all: an Ethernet header and a short payload.
bytes non_dhcp_frame(std::uint8_t seed);

// Client n's address, a distinct one for every n: 02:00, then the four
// bytes of n, the third with its lowest bit flipped, so that below 256 it
// is 02:00:00:00:01:n. And a request from it.
mac_address client(std::uint32_t n);
dhcp_frame request_from(std::uint32_t n, bytes options = {});

// Tagged and untagged clients, repeated requests whose values shrink and
// grow, relay information, address lengths 0 to 6, a discover-only client,
// frames cut short, and host names and vendor classes no script should
// ever evaluate.
std::vector<bytes> mixed_frames();

}  // namespace testkit
