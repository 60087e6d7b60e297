#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dhcp/dhcp_request.h"
#include "frame_builder.h"

namespace dhcpident {
namespace {

using testkit::bytes;
using testkit::concat;
using testkit::dhcp_frame;
using testkit::option;

class DecodeTest : public testing::Test {
protected:
    // Decodes from an allocation of exactly the captured size, so that a
    // read past it is caught by the sanitizers and valgrind. The allocation
    // lives until the next decode, as chaddr points into it.
    const dhcp_request& decode(const bytes& frame, std::size_t captured = SIZE_MAX,
                               std::uint16_t link_header = 14) {
        const std::size_t n = std::min(captured, frame.size());
        exact_ = std::make_unique<std::uint8_t[]>(n == 0 ? 1 : n);
        std::copy_n(frame.begin(), n, exact_.get());
        decode_dhcp_request(byte_view(exact_.get(), n), link_header, request_);
        return request_;
    }

    static std::string codes(const dhcp_request& r) {
        std::string out;
        for (const char* c = r.option_codes; *c != '\0'; ++c) {
            if (!out.empty()) out += ',';
            out += std::to_string(static_cast<unsigned char>(*c));
        }
        return out;
    }

    static std::string address(const dhcp_request& r) {
        std::string out(r.chaddr.size(), '\0');
        r.chaddr.copy_to(0, out.size(), reinterpret_cast<std::uint8_t*>(out.data()));
        return out;
    }

    std::unique_ptr<std::uint8_t[]> exact_;
    dhcp_request request_;
};

TEST_F(DecodeTest, UntaggedAndTaggedFramesPlaceEveryHeader) {
    dhcp_frame f;
    f.ttl = 77;
    f.options = option(12, "host");
    const auto& plain = decode(build(f));
    EXPECT_EQ(plain.vlan_id, 0);
    EXPECT_EQ(plain.ip_ttl, 77);
    EXPECT_EQ(plain.chaddr.size(), 6u);
    EXPECT_TRUE(plain.chaddr_captured);
    EXPECT_EQ(address(plain), std::string("\x00\x1a\x2b\x3c\x4d\x5e", 6));
    EXPECT_EQ(plain.message_type, 3);
    EXPECT_STREQ(plain.hostname, "host");

    for (const auto& [tci, vlan] : {std::pair{0x0064, 100}, {0xE064, 100}, {0x1064, 100}, {0x0FFF, 4095}, {0, 0}}) {
        f.vlan_tci = static_cast<std::uint16_t>(tci);
        const auto& tagged = decode(build(f));
        EXPECT_EQ(tagged.vlan_id, vlan);
        EXPECT_EQ(tagged.ip_ttl, 77);  // found 4 bytes later, tag or not
        EXPECT_EQ(tagged.message_type, 3);
        EXPECT_STREQ(tagged.hostname, "host");
    }
}

TEST_F(DecodeTest, RawIpFrameWhoseSourceBeginsWith129Dot0CountsAsTagged) {
    dhcp_frame f;
    f.ethernet = false;
    bytes frame = build(f);
    EXPECT_EQ(decode(frame, SIZE_MAX, 0).message_type, 3);
    // Source address 129.0.0.7: bytes 12-13 read as the tag type, 14-15 as
    // its control field, and the IP header is looked for at 4.
    frame[12] = 129;
    frame[13] = 0;
    frame[14] = 0;
    frame[15] = 7;
    const auto& r = decode(frame, SIZE_MAX, 0);
    EXPECT_EQ(r.vlan_id, 7);
    EXPECT_EQ(r.ip_ttl, 129);  // byte 4 + 8
    EXPECT_EQ(r.message_type, 0);  // the shifted offsets land elsewhere
}

TEST_F(DecodeTest, OptionWalkQuirks) {
    struct row {
        const char* name;
        bytes options;
        std::uint8_t type_option;  // 0: no option 53 ahead of the rest
        std::string expected_codes;
        std::uint8_t message_type;
        std::string hostname;
    };
    const row rows[] = {
        {"codes in order, 82 pad and end left out, duplicates kept",
         concat({option(55, bytes{1, 3}), option(82, bytes{}), option(12, "a"), bytes{0, 0},
                 option(55, bytes{6})}),
         3, "53,55,12,55", 3, "a"},
        {"a pad byte is read as a code with a length",
         concat({bytes{0, 3, 12, 1, 'x'}, option(12, "b")}), 3, "53,12", 3, "b"},
        {"the end option does not end the walk", concat({bytes{255, 0}, option(12, "late")}), 3,
         "53,12", 3, "late"},
        {"no option 53 means no message type", option(12, "c"), 0, "12", 0, "c"},
        {"option 53 of length 0 takes the next code", bytes{53, 0, 12, 1, 'd'}, 0, "53,12", 12,
         "d"},
        {"a later value overwrites the start of an earlier one",
         concat({option(12, "abcdef"), option(12, "xy")}), 3, "53,12,12", 3, "xycdef"},
    };
    for (const row& r : rows) {
        dhcp_frame f;
        f.message_type = r.type_option;
        f.options = r.options;
        const auto& d = decode(build(f));
        EXPECT_EQ(codes(d), r.expected_codes) << r.name;
        EXPECT_EQ(d.message_type, r.message_type) << r.name;
        EXPECT_EQ(d.hostname, r.hostname) << r.name;
    }
}

TEST_F(DecodeTest, ValueOptions) {
    dhcp_frame f;
    f.options = concat({option(55, bytes{1, 3, 6, 15}), option(60, "MSFT 5.0"),
                        option(50, bytes{192, 168, 1, 10})});
    auto d = decode(build(f));
    EXPECT_STREQ(d.parameter_list, "\x01\x03\x06\x0f");
    EXPECT_STREQ(d.vendor_class, "MSFT 5.0");
    EXPECT_EQ(std::string(d.req_ipaddr, d.req_ipaddr + 4), std::string("\xc0\xa8\x01\x0a", 4));

    // A short option 50 still gives the four bytes from its value on.
    f.options = concat({bytes{50, 2, 10, 0}, option(12, "h")});
    d = decode(build(f));
    EXPECT_EQ(std::string(d.req_ipaddr, d.req_ipaddr + 4), std::string("\x0a\x00\x0c\x01", 4));
    EXPECT_STREQ(d.hostname, "h");
}

TEST_F(DecodeTest, RelayAgentInformation) {
    struct row {
        const char* name;
        bytes value;
        std::string remote_id;
        std::uint16_t vlan;
        std::uint8_t unit, port;
    };
    const bytes mac{0xa, 0xb, 0xc, 0xd, 0xe, 0xf};
    const row rows[] = {
        {"circuit-id and remote-id",
         concat({option(1, bytes{0, 4, 0x00, 0x64, 1, 5}), option(2, concat({bytes{0, 6}, mac}))}),
         std::string(mac.begin(), mac.end()), 100, 1, 5},
        {"circuit vlan keeps all 16 bits", option(1, bytes{0, 4, 0xF0, 0x01, 2, 3}), "", 0xF001, 2,
         3},
        {"circuit-id of another form is ignored", option(1, bytes{1, 4, 0, 9, 9, 9}), "", 0, 0, 0},
        {"circuit test reads two value bytes whatever the length says",
         bytes{1, 0, 0, 4, 0, 7, 8, 9}, "", 7, 8, 9},
        {"remote-id shorter than its own header sets nothing",
         concat({bytes{2, 1, 0xAA}, option(2, bytes{})}), "", 0, 0, 0},
        {"later remote-id overwrites the start of the earlier",
         concat({option(2, bytes{0, 3, 'a', 'b', 'c'}), option(2, bytes{0, 1, 'x'})}), "xbc", 0,
         0, 0},
        {"unknown sub-options are stepped over", concat({option(9, bytes{1, 2, 3}),
                                                         option(1, bytes{0, 4, 0, 1, 2, 3})}),
         "", 1, 2, 3},
    };
    for (const row& r : rows) {
        dhcp_frame f;
        f.options = concat({option(82, r.value), option(12, "after")});
        const auto& d = decode(build(f));
        EXPECT_EQ(std::string(d.remote_id), r.remote_id) << r.name;
        EXPECT_EQ(d.circuit_vlan, r.vlan) << r.name;
        EXPECT_EQ(d.circuit_unit, r.unit) << r.name;
        EXPECT_EQ(d.circuit_port, r.port) << r.name;
        EXPECT_STREQ(d.hostname, "after") << r.name;
    }
}

TEST_F(DecodeTest, MoreThan255OptionCodesKeepTheFirst255) {
    dhcp_frame f;
    for (int i = 0; i < 300; ++i) f.options.insert(f.options.end(), {7, 0});
    const auto& d = decode(build(f));
    EXPECT_EQ(std::string(d.option_codes).size(), 255u);
    EXPECT_EQ(d.option_codes[0], 53);
}

// Frames decoded only as far as their captured bytes go.
TEST_F(DecodeTest, CapturedBounds) {
    dhcp_frame base;
    base.options = concat({option(12, "name"), option(55, bytes{1, 3})});
    const bytes full = build(base);
    const std::size_t options_at = 14 + 20 + 8 + 240;

    // (Cuts before and at the first option: every prefix, below.) Cut
    // inside the host name: what came before stands, 12 is not listed.
    auto d = decode(full, options_at + 3 + 2 + 3);
    EXPECT_EQ(d.message_type, 3);
    EXPECT_STREQ(d.hostname, "");
    EXPECT_EQ(codes(d), "53");
    // Cut between the end option and nothing: the end code without its
    // length byte ends the walk, the request stands.
    d = decode(full);
    EXPECT_STREQ(d.parameter_list, "\x01\x03");

    // Option 53 of length 0 as the last captured pair reads a byte that is
    // not there: the walk ends without it.
    dhcp_frame zero_type;
    zero_type.message_type = 0;
    zero_type.options = concat({option(12, "n"), bytes{53, 0}});
    const bytes z = build(zero_type);
    d = decode(z, z.size() - 1);  // drop the end option
    EXPECT_EQ(d.message_type, 0);
    EXPECT_STREQ(d.hostname, "n");
    EXPECT_EQ(codes(d), "12");

    // Option 50 of length 2 with only its two value bytes captured.
    dhcp_frame short_address;
    short_address.options = bytes{50, 2, 10, 1};
    const bytes s = build(short_address);
    d = decode(s, s.size() - 1);
    EXPECT_EQ(d.req_ipaddr[0], 0);
    EXPECT_EQ(codes(d), "53");
}

TEST_F(DecodeTest, CaptureEndingInsidePaddingAfterTheEndOptionIsStillARequest) {
    dhcp_frame f;
    f.options = option(12, "padded");
    bytes frame = build(f);
    frame.insert(frame.end(), 40, 0);  // zeros after the end option
    const std::size_t full_udp = frame.size() - 14 - 20;
    frame[14 + 20 + 4] = static_cast<std::uint8_t>(full_udp >> 8);
    frame[14 + 20 + 5] = static_cast<std::uint8_t>(full_udp);
    for (std::size_t cut : {frame.size() - 40, frame.size() - 39, frame.size() - 17}) {
        const auto& d = decode(frame, cut);
        EXPECT_EQ(d.message_type, 3) << cut;
        EXPECT_STREQ(d.hostname, "padded") << cut;
    }
}

TEST_F(DecodeTest, UdpLengthBoundsTheOptionsArea) {
    dhcp_frame f;
    f.options = option(12, "x");
    for (const auto& [udp_length, walked] :
         {std::pair{247, false}, {248, false}, {0, false}, {249, true}, {0xFFFF, true}}) {
        f.udp_length = static_cast<std::uint16_t>(udp_length);
        const auto& d = decode(build(f));
        EXPECT_EQ(d.message_type, walked ? 3 : 0) << udp_length;
        EXPECT_TRUE(d.chaddr_captured);
    }
}

TEST_F(DecodeTest, ClientAddressRunningPastTheCaptureIsNotCaptured) {
    dhcp_frame f;
    f.hlen = 0;
    EXPECT_TRUE(decode(build(f)).chaddr_captured);
    EXPECT_EQ(decode(build(f)).chaddr.size(), 0u);
    f.hlen = 200;  // reads on into sname and file: allowed while captured
    EXPECT_TRUE(decode(build(f)).chaddr_captured);
    EXPECT_EQ(decode(build(f)).chaddr.size(), 200u);
    const bytes frame = build(f);
    const auto& d = decode(frame, 14 + 28 + 28 + 199);
    EXPECT_FALSE(d.chaddr_captured);
    EXPECT_EQ(d.chaddr.size(), 0u);
}

TEST_F(DecodeTest, RelayAgentSubOptionCutByTheCaptureEndsOnlyTheSubWalk) {
    dhcp_frame f;
    f.message_type = 0;
    // Option 82 holds two bytes: a remote-id claiming 10, reaching into the
    // next option and past the capture.
    f.options = concat({bytes{82, 2, 2, 10}, option(12, "h"), bytes{53, 1, 3}});
    const bytes frame = build(f);
    const auto& d = decode(frame, frame.size() - 1);
    EXPECT_STREQ(d.remote_id, "");
    EXPECT_STREQ(d.hostname, "h");
    EXPECT_EQ(d.message_type, 3);

    // A circuit-id whose test bytes lie past the capture.
    dhcp_frame g;
    g.message_type = 0;
    g.options = bytes{53, 1, 3, 82, 2, 1, 0};
    const bytes cut = build(g);
    const auto& c = decode(cut, cut.size() - 1);
    EXPECT_EQ(c.message_type, 3);
    EXPECT_EQ(c.circuit_vlan, 0);
}

TEST_F(DecodeTest, EveryPrefixOfAFrameDecodesWithinItsBytes) {
    dhcp_frame f;
    f.vlan_tci = 5;
    f.hlen = 16;
    f.options = concat({option(55, bytes{1, 3, 6}), option(60, "vendor"), option(12, "host"),
                        option(50, bytes{1, 2, 3, 4}),
                        testkit::relay_agent_option(10, 1, 2, {1, 2, 3, 4, 5, 6})});
    const bytes frame = build(f);
    const std::string all_codes = codes(decode(frame));
    for (std::size_t n = 0; n <= frame.size(); ++n) {
        const dhcp_request& d = decode(frame, n);
        SCOPED_TRACE("prefix of " + std::to_string(n) + " bytes");
        // What a prefix lists is a leading part of what the whole frame
        // lists: a cut never invents or reorders an option.
        const std::string listed = codes(d);
        EXPECT_EQ(all_codes.compare(0, listed.size(), listed), 0) << listed;
        // Option 53 comes first: once its value byte is in, the type is read.
        const std::size_t type_value_end = 18 + 20 + 8 + 240 + 3;
        EXPECT_EQ(d.message_type, n >= type_value_end ? 3 : 0);
        // The address is there exactly when the prefix reaches the options
        // (the 16 address bytes lie before them).
        EXPECT_EQ(d.chaddr_captured, n >= 18 + 20 + 8 + 240);
        EXPECT_EQ(d.vlan_id, n >= 16 ? 5 : 0);
    }
    EXPECT_STREQ(decode(frame).hostname, "host");
}

// The record is reused frame after frame and not cleared whole: what a
// frame leaves behind its texts must never show in the next one.
TEST_F(DecodeTest, AReusedRecordReadsAsAClearedOne) {
    dhcp_frame long_values;
    long_values.options = concat({option(12, std::string(200, 'h')), option(60, "vendor-long"),
                                  option(55, bytes{1, 2, 3, 4, 5, 6, 7}),
                                  option(82, option(2, bytes{0, 6, 1, 2, 3, 4, 5, 6}))});
    dhcp_frame short_values;
    short_values.options = concat({option(12, "ab"), option(12, "c"),  // repeated: "cb"
                                   option(82, option(2, bytes{0, 2, 9, 9}))});
    decode(build(long_values));
    const dhcp_request& d = decode(build(short_values));
    EXPECT_STREQ(d.hostname, "cb");
    EXPECT_STREQ(d.vendor_class, "");
    EXPECT_STREQ(d.parameter_list, "");
    EXPECT_EQ(std::string(d.remote_id, 6), std::string("\x09\x09\0\0\0\0", 6));
    EXPECT_EQ(codes(d), "53,12,12");
}

}  // namespace
}  // namespace dhcpident
