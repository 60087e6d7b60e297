#include "frame_builder.h"

#include <algorithm>

namespace testkit {
namespace {

void put16(bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

}  // namespace

bytes option(std::uint8_t code, const bytes& value) {
    bytes out(2 + value.size());
    out[0] = code;
    out[1] = static_cast<std::uint8_t>(value.size());
    std::copy(value.begin(), value.end(), out.begin() + 2);
    return out;
}

bytes option(std::uint8_t code, std::string_view text) {
    return option(code, bytes(text.begin(), text.end()));
}

bytes concat(std::initializer_list<bytes> parts) {
    bytes out;
    for (const bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

bytes relay_agent_option(std::uint16_t vlan, std::uint8_t unit, std::uint8_t port,
                         const mac_address& remote) {
    bytes circuit{0, 4, static_cast<std::uint8_t>(vlan >> 8), static_cast<std::uint8_t>(vlan),
                  unit, port};
    // Sized first and filled in place: inserting behind a two-byte vector
    // trips g++ 12's -Warray-bounds at -O3, a known false positive.
    bytes remote_id(2 + remote.size());
    remote_id[1] = 6;
    std::copy(remote.begin(), remote.end(), remote_id.begin() + 2);
    return option(82, concat({option(1, circuit), option(2, remote_id)}));
}

bytes build(const dhcp_frame& frame) {
    bytes out;
    if (frame.ethernet) {
        for (int i = 0; i < 6; ++i) out.push_back(0xff);
        out.insert(out.end(), frame.client.begin(), frame.client.end());
        if (frame.vlan_tci) {
            put16(out, 0x8100);
            put16(out, *frame.vlan_tci);
        }
        put16(out, 0x0800);
    }
    bytes options;
    if (frame.message_type != 0) options = option(53, bytes{frame.message_type});
    options.insert(options.end(), frame.options.begin(), frame.options.end());
    options.push_back(255);
    const std::size_t udp_total = 8 + 240 + options.size();

    // IPv4 header, 20 bytes, checksum left 0.
    const std::size_t ip_total = 20 + udp_total;
    out.push_back(0x45);
    out.push_back(0);
    put16(out, static_cast<std::uint16_t>(ip_total));
    put16(out, 0);
    put16(out, 0);
    out.push_back(frame.ttl);
    out.push_back(17);
    put16(out, 0);
    for (std::uint8_t b : {0, 0, 0, 0, 255, 255, 255, 255}) out.push_back(b);

    // UDP header: 68 -> 67.
    put16(out, 68);
    put16(out, 67);
    put16(out, frame.udp_length.value_or(static_cast<std::uint16_t>(udp_total)));
    put16(out, 0);

    // BOOTP fixed part: op, htype, hlen, hops, xid, secs, flags, ciaddr,
    // yiaddr, siaddr, giaddr, chaddr (16), sname (64), file (128).
    const std::size_t bootp = out.size();
    out.resize(bootp + 236, 0);
    out[bootp] = 1;
    out[bootp + 1] = 1;
    out[bootp + 2] = frame.hlen;
    out[bootp + 4] = 0x12;
    for (std::size_t i = 0; i < frame.client.size(); ++i) out[bootp + 28 + i] = frame.client[i];
    for (std::uint8_t b : {99, 130, 83, 99}) out.push_back(b);
    out.insert(out.end(), options.begin(), options.end());
    return out;
}

bytes non_dhcp_frame(std::uint8_t seed) {
    bytes out(60, seed);
    out[12] = 0x08;
    out[13] = 0x06;  // ARP
    return out;
}

std::vector<mac_address> fnv_colliding_addresses(std::size_t count) {
    // FNV-1a steps h = (h ^ byte) * p, and the low bits of a product depend
    // on the low bits of its factors only. For a target t of the low 17
    // bits, the last byte b6 must bring h5 ^ b6 to x = t / p (mod 2^17):
    // possible when h5 agrees with x above its low 8 bits, 1 time in 512.
    constexpr std::uint32_t prime = 16777619u, mask = (1u << 17) - 1, target = 0x1234;
    std::uint32_t inverse = prime;  // Newton's iteration: p * inverse = 1 mod 2^32
    for (int i = 0; i < 5; ++i) inverse *= 2 - prime * inverse;
    const std::uint32_t x = (target * inverse) & mask;
    std::vector<mac_address> found;
    for (std::uint32_t prefix = 0; found.size() < count; ++prefix) {
        const mac_address base{0x02, static_cast<std::uint8_t>(prefix >> 16),
                               static_cast<std::uint8_t>(prefix >> 8), static_cast<std::uint8_t>(prefix), 0, 0};
        std::uint32_t h4 = 2166136261u;
        for (int i = 0; i < 4; ++i) h4 = (h4 ^ base[i]) * prime;
        for (unsigned b5 = 0; b5 < 256 && found.size() < count; ++b5) {
            const std::uint32_t h5 = (h4 ^ b5) * prime;
            if (((h5 ^ x) & mask) >> 8 != 0) continue;
            mac_address address = base;
            address[4] = static_cast<std::uint8_t>(b5);
            address[5] = static_cast<std::uint8_t>((h5 ^ x) & 0xff);
            found.push_back(address);
        }
    }
    return found;
}

}  // namespace testkit
