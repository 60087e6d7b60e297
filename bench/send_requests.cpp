// Sends COUNT DHCPREQUESTs, each from an address of its own, out of the
// interface IFACE with a packet socket, in bursts that a receiver's kernel
// buffer holds: the live capture service's benchmark, on a veth pair in a
// network namespace of its own.
//   bench_send_requests IFACE COUNT
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "frame_builder.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IFACE COUNT\n", argv[0]);
        return 2;
    }
    const int sender = socket(AF_PACKET, SOCK_RAW, 0);
    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = static_cast<int>(if_nametoindex(argv[1]));
    if (sender < 0 || bind(sender, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    const unsigned long count = std::strtoul(argv[2], nullptr, 10);
    for (unsigned long n = 0; n < count; ++n) {
        testkit::dhcp_frame f;
        f.client = {0x02, 0x30, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                    static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
        f.options = testkit::concat({testkit::option(12, "host-" + std::to_string(n)),
                                     testkit::option(55, testkit::bytes{1, 3, 6, 15, 26, 28, 51, 58, 59})});
        const testkit::bytes frame = testkit::build(f);
        if (send(sender, frame.data(), frame.size(), 0) < 0) {
            std::perror("send");
            return 1;
        }
        if (n % 64 == 63) usleep(200);
    }
    close(sender);
    return 0;
}
