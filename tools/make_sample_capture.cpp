// Writes the bundled sample capture: a few clients' DHCP traffic around the
// requests of 00:1a:2b:3c:4d:5e, the last of which the program reports.
#include <cstdio>

#include "capture_writer.h"
#include "frame_builder.h"

using namespace testkit;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.pcap\n", argv[0]);
        return 2;
    }
    const mac_address phone{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    const mac_address laptop{0x3c, 0x22, 0xfb, 0x01, 0x02, 0x03};
    const bytes phone_options = concat({option(61, bytes{1, 0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}),
                                        option(57, bytes{0x05, 0xdc}),
                                        option(60, "android-dhcp-13"),
                                        option(12, "Pixel-7"),
                                        option(55, bytes{1, 3, 6, 15, 26, 28, 51, 58, 59, 43, 114})});

    dhcp_frame discover{phone, 0x0064, 64, 6, 1, phone_options, {}, true};
    dhcp_frame first_request{phone, 0x0064, 64, 6, 3,
                             concat({phone_options, option(50, bytes{192, 168, 100, 23})}), {}, true};
    dhcp_frame renewal = first_request;
    renewal.options = concat({phone_options, option(50, bytes{192, 168, 100, 23}),
                              relay_agent_option(100, 1, 12, {0x02, 0x0c, 0x29, 0xaa, 0xbb, 0xcc})});
    dhcp_frame laptop_request{laptop, {}, 128, 6, 3,
                              concat({option(60, "MSFT 5.0"), option(12, "DESKTOP-4K2"),
                                      option(55, bytes{1, 3, 6, 15, 31, 33, 43, 44, 46, 47, 119,
                                                       121, 249, 252})}),
                              {}, true};

    capture_writer writer;
    writer.add(non_dhcp_frame(1));
    writer.add(build(discover));
    writer.add(build(first_request));
    writer.add(build(laptop_request));
    writer.add(non_dhcp_frame(2));
    writer.add(build(renewal));
    return save(argv[1], writer.finish()) ? 0 : 1;
}
