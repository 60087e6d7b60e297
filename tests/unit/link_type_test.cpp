#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <algorithm>

#include "common/link_type.h"

namespace dhcpident {
namespace {

constexpr char warning[] = "Warning: unable to find device link type!\n";

// The lengths a frame's IP header lies behind, by libpcap's names for the
// link types rather than the table's numbers; over every value libpcap can
// name, any other type warns once and has no length.
TEST(LinkTypeTest, EachKnownTypeHasItsHeaderLengthAndAnyOtherWarns) {
    const std::pair<int, std::uint16_t> known[] = {
        {DLT_NULL, 4},         // BSD loopback: a 4-byte address family
        {DLT_EN10MB, 14},      // Ethernet: two addresses and the EtherType
        {DLT_SLIP, 16},
        {DLT_PPP, 4},
        {DLT_RAW, 0},          // the frame is the IP packet
        {DLT_PPP_SERIAL, 8},   // 8, not the 4 of its HDLC header
        {DLT_PPP_ETHER, 8},    // PPPoE session header and PPP protocol
        {DLT_LOOP, 8},         // 8, not the 4 of its address family
        {DLT_LINUX_SLL, 16},   // Linux cooked capture
        {DLT_PFLOG, 28},       // taken as a fixed length
    };
    for (int type = -1; type < 300; ++type) {
        const auto* row = std::find_if(std::begin(known), std::end(known),
                                       [type](const auto& r) { return r.first == type; });
        testing::internal::CaptureStderr();
        const std::optional<std::uint16_t> length = link_header_length(type);
        const std::string err = testing::internal::GetCapturedStderr();
        if (row != std::end(known)) {
            EXPECT_EQ(length, std::optional<std::uint16_t>(row->second)) << type;
            EXPECT_EQ(err, "") << type;
        } else {
            EXPECT_EQ(length, std::nullopt) << type;
            EXPECT_EQ(err, warning) << type;
        }
    }
}

}  // namespace
}  // namespace dhcpident
