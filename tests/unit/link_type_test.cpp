#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include "driver/link_type.h"

namespace dhcpident {
namespace {

constexpr char warning[] = "Warning: unable to find device link type!\n";

// The lengths a frame's IP header lies behind, for the link types captures
// come in: libpcap's names, not the table's numbers.
TEST(LinkTypeTest, CommonCaptureTypesPutTheIpHeaderBehindTheirHeader) {
    const std::pair<int, std::uint16_t> rows[] = {
        {DLT_EN10MB, 14},      // Ethernet: two addresses and the EtherType
        {DLT_LINUX_SLL, 16},   // Linux cooked capture
        {DLT_RAW, 0},          // the frame is the IP packet
        {DLT_NULL, 4},         // BSD loopback: a 4-byte address family
    };
    for (const auto& [type, length] : rows) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(link_header_length(type), std::optional<std::uint16_t>(length)) << type;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << type;
    }
}

// Over every value libpcap can name: a type either has a length and says
// nothing, or warns once and has none.
TEST(LinkTypeTest, EveryTypeEitherHasALengthOrWarnsOnce) {
    int known = 0;
    for (int type = -1; type < 300; ++type) {
        testing::internal::CaptureStderr();
        const std::optional<std::uint16_t> length = link_header_length(type);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, length ? "" : warning) << type;
        if (length) {
            ++known;
            EXPECT_NE(pcap_datalink_val_to_name(type), nullptr) << type;
        }
    }
    EXPECT_EQ(known, 10);
}

}  // namespace
}  // namespace dhcpident
