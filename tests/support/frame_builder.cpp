#include "frame_builder.h"

#include <algorithm>
#include <string>

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

mac_address client(std::uint32_t n) {
    return {0x02, 0x00, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>((n >> 8) ^ 1), static_cast<std::uint8_t>(n)};
}

dhcp_frame request_from(std::uint32_t n, bytes options) {
    dhcp_frame f;
    f.client = client(n);
    f.options = std::move(options);
    return f;
}

std::vector<bytes> mixed_frames() {
    const std::string long_value(255, 'L');
    std::string every_byte;
    for (int c = 1; c < 256; ++c) every_byte += static_cast<char>(c);
    std::vector<bytes> frames;
    auto add = [&](const dhcp_frame& f) { frames.push_back(build(f)); };

    dhcp_frame tagged = request_from(2, concat({option(12, "tagged"), option(55, bytes{1, 3, 6}),
                                                relay_agent_option(7, 1, 2, {9, 8, 7, 6, 5, 4})}));
    tagged.vlan_tci = 0x1007;  // DEI set: VLAN 7
    add(request_from(5, option(12, "first of five")));
    add(tagged);
    dhcp_frame discover_only = request_from(9);
    discover_only.message_type = 1;
    add(discover_only);
    add(request_from(3, concat({option(12, "it's $(reboot) `id`\n'x'"),
                                option(60, "vendor \"q\" \\ \x01\x1f\x7f")})));
    add(request_from(4, concat({option(12, "\xff\xfe caf\xc3\xa9 \xc3"), option(60, long_value)})));
    dhcp_frame short_address = request_from(6, option(12, "three bytes"));
    short_address.hlen = 3;
    add(short_address);
    dhcp_frame no_address = request_from(7, option(12, "no address"));
    no_address.hlen = 0;
    add(no_address);
    add(request_from(5, concat({option(12, "last of five"), option(50, bytes{10, 0, 0, 5}),
                                option(12, "x")})));  // a later, shorter host name
    add(request_from(8, option(12, every_byte.substr(0, 255))));
    // Cut inside its options: what came before the cut still counts.
    bytes cut = build(request_from(10, concat({option(12, "cut"), option(60, long_value)})));
    cut.resize(cut.size() - 100);
    frames.push_back(cut);
    // Cut before its options: no request at all.
    bytes too_short = build(request_from(11));
    too_short.resize(200);
    frames.push_back(too_short);
    add(request_from(3, option(12, long_value)));  // grows past what client 3 sent before
    // Frames larger than usual, padded far behind the end option.
    for (const char* host : {"big, first", "big, then this longer name"}) {
        dhcp_frame big = request_from(12, concat({option(12, host), option(55, bytes{1, 3}),
                                                  relay_agent_option(9, 2, 3, {1, 1, 1, 1, 1, 1})}));
        big.vlan_tci = 9;
        bytes frame = build(big);
        frame.resize(2000);  // padded behind the end option
        frames.push_back(frame);
    }
    frames.push_back(non_dhcp_frame(1));
    add(request_from(2, option(12, "tagged no more")));
    return frames;
}

}  // namespace testkit
