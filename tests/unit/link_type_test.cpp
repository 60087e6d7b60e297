#include <gtest/gtest.h>

#include "driver/link_type.h"

namespace dhcpident {
namespace {

TEST(LinkTypeTest, KnownTypesGiveTheirHeaderLength) {
    const std::pair<int, std::uint16_t> rows[] = {
        {0, 4}, {1, 14}, {8, 16}, {9, 4}, {12, 0},
        {50, 8}, {51, 8}, {108, 8}, {113, 16}, {117, 28},
    };
    testing::internal::CaptureStderr();
    for (const auto& [type, length] : rows) {
        EXPECT_EQ(link_header_length(type), std::optional<std::uint16_t>(length)) << type;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(LinkTypeTest, UnknownTypeWarnsAndGivesNoLength) {
    for (int type : {105, 2, 101, 127, -1}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(link_header_length(type), std::nullopt);
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "Warning: unable to find device link type!\n");
    }
}

}  // namespace
}  // namespace dhcpident
