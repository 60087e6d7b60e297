// Writes a capture of mixed traffic, the same for the same seed: DHCP
// requests and discovers from many clients (a tenth VLAN-tagged, some with
// relay information), requests from one target client 00:1a:2b:3c:4d:5e,
// and other traffic of many sizes. With "colliding", only requests instead:
// FRAMES / 2 clients, each twice, whose addresses collide in the client
// index's old unkeyed hash; with "spread", as many clients with addresses
// drawn at random, to compare with.
//   bench_gen_capture FRAMES SEED OUTPUT.pcap [colliding|spread]
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "capture_writer.h"
#include "frame_builder.h"

using namespace testkit;

int main(int argc, char** argv) {
    const std::string mode = argc == 5 ? argv[4] : "";
    if ((argc != 4 && argc != 5) || (argc == 5 && mode != "colliding" && mode != "spread")) {
        std::fprintf(stderr, "usage: %s FRAMES SEED OUTPUT.pcap [colliding|spread]\n", argv[0]);
        return 2;
    }
    const unsigned long count = std::strtoul(argv[1], nullptr, 10);
    std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)));
    auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };

    const mac_address target{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    const bytes params[] = {{1, 3, 6, 15, 26, 28, 51, 58, 59, 43},
                            {1, 3, 6, 15, 31, 33, 43, 44, 46, 47, 119, 121, 249, 252},
                            {1, 121, 3, 6, 15, 119, 252, 95, 44, 46}};
    const char* vendors[] = {"android-dhcp-13", "MSFT 5.0", "udhcp 1.36.1", "dhcpcd-9.4.1"};

    capture_writer writer;
    if (!mode.empty()) {
        std::vector<mac_address> clients = fnv_colliding_addresses(count / 2);
        if (mode == "spread") {
            for (mac_address& client : clients) {
                for (std::size_t i = 1; i < client.size(); ++i) client[i] = static_cast<std::uint8_t>(random());
            }
        }
        for (int round = 0; round < 2; ++round) {
            for (const mac_address& client : clients) {
                dhcp_frame f;
                f.client = client;
                f.options = concat({option(55, params[0]), option(12, "host")});
                writer.add(build(f));
            }
        }
        const std::string file = writer.finish();
        if (!save(argv[3], file)) return 1;
        std::printf("%zu %s clients, each twice, %zu bytes\n", clients.size(), mode.c_str(), file.size());
        return 0;
    }
    unsigned long target_requests = 0;
    for (unsigned long i = 0; i < count; ++i) {
        const unsigned kind = below(1000);
        if (kind < 300) {  // DHCP from one of many clients, or the target
            dhcp_frame f;
            const bool is_target = kind < 1;
            if (is_target) {
                f.client = target;
                ++target_requests;
            } else {
                const unsigned client = below(10000);
                f.client = {0x02, 0x00, 0x00, static_cast<std::uint8_t>(client >> 16),
                            static_cast<std::uint8_t>(client >> 8), static_cast<std::uint8_t>(client)};
            }
            f.message_type = is_target || below(3) != 0 ? 3 : 1;
            if (below(10) == 0) f.vlan_tci = static_cast<std::uint16_t>(1 + below(4094));
            f.ttl = below(2) != 0 ? 64 : 128;
            f.options = concat({option(61, bytes{1, f.client[0], f.client[1], f.client[2], f.client[3],
                                                 f.client[4], f.client[5]}),
                                option(55, params[below(3)]), option(60, vendors[below(4)]),
                                option(12, "host-" + std::to_string(below(10000))),
                                option(50, bytes{10, 0, static_cast<std::uint8_t>(below(256)),
                                                 static_cast<std::uint8_t>(below(256))})});
            if (below(5) == 0) {
                f.options = concat({f.options, relay_agent_option(static_cast<std::uint16_t>(below(4096)),
                                                                  1, static_cast<std::uint8_t>(below(48)),
                                                                  {2, 0, 0, 0, 0, 1})});
            }
            bytes frame = build(f);
            frame.insert(frame.end(), 8 * below(8), 0);  // some clients pad
            writer.add(frame);
        } else {  // other traffic: Ethernet with a payload of many sizes
            const unsigned size = 60 + (below(4) == 0 ? below(1454) : below(200));
            bytes frame(size);
            for (auto& b : frame) b = static_cast<std::uint8_t>(random());
            frame[12] = 0x08;
            frame[13] = 0x00;
            writer.add(frame);
        }
    }
    const std::string file = writer.finish();
    if (!save(argv[3], file)) return 1;
    std::printf("%lu frames, %lu target requests, %zu bytes\n", count, target_requests, file.size());
    return 0;
}
