#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/render.h"

namespace dhcpident {
namespace {

struct hex_case {
    std::vector<std::uint8_t> bytes;
    std::uint8_t count;
    std::string expected;
};

TEST(RenderTest, HexColonText) {
    const std::vector<std::uint8_t> hundred(100, 0xAB);
    std::string first85;
    for (int i = 0; i < 85; ++i) first85 += i == 0 ? "ab" : ":ab";
    const hex_case cases[] = {
        {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, 6, "00:1a:2b:3c:4d:5e"},
        {{0xFF}, 1, "ff"},
        {{0x01, 0x02}, 0, ""},
        {hundred, 100, first85},  // cut to 254 characters: 85 whole bytes
    };
    for (const hex_case& c : cases) {
        EXPECT_EQ(hex_colon_text(byte_view(c.bytes.data(), c.count)), c.expected);
    }
}

TEST(RenderTest, DecimalListText) {
    EXPECT_STREQ(decimal_list_text("\x01\x03\x06\x0f\x77\xfc"), "1,3,6,15,119,252");
    EXPECT_STREQ(decimal_list_text(""), "");
    EXPECT_STREQ(decimal_list_text("\x80"), "128");

    // 255 codes of 255 make "255,255,..." of 1019 characters: the first 254
    // are kept, which here end in a cut number.
    const std::string list(255, '\xff');
    std::string full;
    for (int i = 0; i < 255; ++i) full += i == 0 ? "255" : ",255";
    EXPECT_EQ(decimal_list_text(list.c_str()), full.substr(0, 254));
}

TEST(RenderTest, DottedQuadText) {
    const std::uint8_t quads[][4] = {{0xC0, 0xA8, 0x01, 0x0A}, {0, 0, 0, 0}, {255, 255, 255, 255}};
    const char* expected[] = {"192.168.1.10", "0.0.0.0", "255.255.255.255"};
    for (int i = 0; i < 3; ++i) EXPECT_STREQ(dotted_quad_text(quads[i]), expected[i]);
}

// The report holds the address text while the lookup renders the list and
// the quad is rendered: a result lasts until the same renderer runs again.
TEST(RenderTest, AResultSurvivesTheOtherRenderers) {
    const std::uint8_t address[] = {0x00, 0x1a}, quad[] = {10, 0, 0, 1};
    const char* hex = hex_colon_text(byte_view(address, sizeof address));
    const char* list = decimal_list_text("\x01\x03");
    const char* dotted = dotted_quad_text(quad);
    EXPECT_STREQ(hex, "00:1a");
    EXPECT_STREQ(list, "1,3");
    EXPECT_STREQ(dotted, "10.0.0.1");
}

}  // namespace
}  // namespace dhcpident
