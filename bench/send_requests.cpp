// Sends COUNT DHCPREQUESTs, each from an address of its own, out of the
// interface IFACE with a packet socket, in bursts of 64 that a receiver's
// kernel buffer holds; with "burst", all at once, as fast as the socket
// takes them; with "for", as many as it can for COUNT seconds, a flood
// that outruns the receiver. The live capture service's benchmark, on a
// veth pair in a network namespace of its own.
//   bench_send_requests IFACE COUNT [burst|for]
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "frame_builder.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s IFACE COUNT [burst|for]\n", argv[0]);
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
    const bool for_seconds = argc == 4 && std::strcmp(argv[3], "for") == 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(count);
    for (unsigned long n = 0; for_seconds ? std::chrono::steady_clock::now() < until : n < count; ++n) {
        testkit::dhcp_frame f;
        f.client = testkit::client(static_cast<std::uint32_t>(n));
        f.options = testkit::concat({testkit::option(12, "host-" + std::to_string(n)),
                                     testkit::option(55, testkit::bytes{1, 3, 6, 15, 26, 28, 51, 58, 59})});
        const testkit::bytes frame = testkit::build(f);
        if (send(sender, frame.data(), frame.size(), 0) < 0) {
            std::perror("send");
            return 1;
        }
        if (argc == 3 && n % 64 == 63) usleep(200);
    }
    close(sender);
    return 0;
}
