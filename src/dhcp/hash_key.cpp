#include "dhcp/hash_key.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <ctime>

namespace dhcpident {

hash_key random_hash_key() {
    hash_key key{};
    if (getrandom(&key, sizeof key, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof key)) return key;
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
        const ssize_t n = read(fd, &key, sizeof key);
        close(fd);
        if (n == static_cast<ssize_t>(sizeof key)) return key;
    }
    // Weaker, but unknown to anyone on the network: when this process
    // started, to the nanosecond, its id, and where it was loaded.
    timespec now{}, since_boot{};
    clock_gettime(CLOCK_REALTIME, &now);
    clock_gettime(CLOCK_MONOTONIC, &since_boot);
    key.k0 ^= static_cast<std::uint64_t>(now.tv_sec) << 32 ^ static_cast<std::uint64_t>(now.tv_nsec) ^
              static_cast<std::uint64_t>(getpid()) << 20;
    key.k1 ^= static_cast<std::uint64_t>(since_boot.tv_nsec) << 32 ^
              reinterpret_cast<std::uintptr_t>(&key) ^ reinterpret_cast<std::uintptr_t>(&random_hash_key);
    return key;
}

}  // namespace dhcpident
