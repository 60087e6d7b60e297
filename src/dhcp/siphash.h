// SipHash (Aumasson and Bernstein, 2012): a keyed hash of short inputs
// whose outputs no one without the key can predict, so no one can choose
// inputs that collide in a hash table. SipHash-1-3 (one round a block,
// three at the end) is what hash tables use, Rust's among them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"

namespace dhcpident {

namespace siphash_detail {

constexpr std::uint64_t rotl(std::uint64_t x, int bits) { return x << bits | x >> (64 - bits); }

struct state {
    std::uint64_t v0, v1, v2, v3;
    constexpr void round() {
        v0 += v1, v1 = rotl(v1, 13), v1 ^= v0, v0 = rotl(v0, 32);
        v2 += v3, v3 = rotl(v3, 16), v3 ^= v2;
        v0 += v3, v3 = rotl(v3, 21), v3 ^= v0;
        v2 += v1, v1 = rotl(v1, 17), v1 ^= v2, v2 = rotl(v2, 32);
    }
    template <int rounds>
    constexpr void absorb(std::uint64_t m) {
        v3 ^= m;
        for (int i = 0; i < rounds; ++i) round();
        v0 ^= m;
    }
};

}  // namespace siphash_detail

// The hash of data under the key (k0, k1), the 16 key bytes read as two
// little-endian words. Words of the input are built byte by byte, in
// little-endian order as the algorithm defines them, on any host.
template <int compression_rounds, int final_rounds>
constexpr std::uint64_t siphash(std::uint64_t k0, std::uint64_t k1, byte_view data) {
    siphash_detail::state s{k0 ^ 0x736f6d6570736575u, k1 ^ 0x646f72616e646f6du,
                            k0 ^ 0x6c7967656e657261u, k1 ^ 0x7465646279746573u};
    const std::size_t size = data.size();
    std::size_t at = 0;
    for (; at + 8 <= size; at += 8) {
        std::uint64_t m = 0;
        for (int i = 7; i >= 0; --i) m = m << 8 | data.u8(at + static_cast<std::size_t>(i));
        s.absorb<compression_rounds>(m);
    }
    // The last bytes, and the length's low byte at the top.
    std::uint64_t last = static_cast<std::uint64_t>(size) << 56;
    for (std::size_t i = 0; at + i < size; ++i) last |= std::uint64_t{data.u8(at + i)} << (8 * i);
    s.absorb<compression_rounds>(last);
    s.v2 ^= 0xff;
    for (int i = 0; i < final_rounds; ++i) s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace dhcpident
