// The key of a keyed hash, drawn at start-up so that no one outside the
// process can choose inputs that collide.
#pragma once

#include <cstdint>

namespace dhcpident {

// SipHash's 128-bit key, as two words.
struct hash_key {
    std::uint64_t k0, k1;
};

// A key from the kernel: getrandom, without waiting for an entropy pool
// not yet ready at boot; else /dev/urandom; else the time, the process id
// and addresses the process was loaded at. Never fails.
hash_key random_hash_key();

}  // namespace dhcpident
