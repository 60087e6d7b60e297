#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dhcp/report.h"
#include "fingerprint/fingerprint.h"

namespace dhcpident {
namespace {

TEST(InitialTtlClassTest, Boundaries) {
    const std::pair<int, int> rows[] = {{0, 32},   {1, 32},   {32, 32},   {33, 64},  {64, 64},
                                        {65, 128}, {128, 128}, {129, 255}, {255, 255}};
    for (const auto& [ttl, expected] : rows) {
        EXPECT_EQ(initial_ttl_class(static_cast<std::uint8_t>(ttl)), expected) << ttl;
    }
}

class LookupTest : public testing::Test {
protected:
    void TearDown() override { fingerprint_count = 0; }

    // Runs the lookup and returns "<row's name>" or "fallback|<list>".
    static std::string lookup(std::uint8_t ttl_class, const char* codes, const char* list,
                              const char* vendor) {
        const fingerprint found = lookup_fingerprint(ttl_class, codes, list, vendor);
        return (found.matched ? "" : "fallback|") + std::string(found.text);
    }
};

TEST_F(LookupTest, EmptyTableFallsBackToTheList) {
    EXPECT_EQ(lookup(64, "\x35\x37", "\x01\x03\x06\x0f", "abc"), "fallback|1,3,6,15");
    EXPECT_EQ(lookup(64, "", "", ""), "fallback|");
}

TEST_F(LookupTest, RowsMatchOnAllFourKeysAndTheFirstWins) {
    const char codes[] = "\x35\x37";
    const char list[] = "\x01\x03";
    fingerprint_table[0] = {128, "*", "*", "vendor", "first"};
    fingerprint_table[1] = {0, codes, "*", "vendor", "any ttl"};
    fingerprint_table[2] = {64, "*", list, "", "no vendor"};
    fingerprint_table[3] = {0, "\x2a", "*", "star", "byte 42 is the wildcard too"};
    fingerprint_table[4] = {0, "*", "*", "*", "star vendor"};
    fingerprint_count = 5;

    EXPECT_EQ(lookup(128, codes, list, "vendor"), "first");
    EXPECT_EQ(lookup(32, codes, list, "vendor"), "any ttl");
    EXPECT_EQ(lookup(255, codes, "\x09", "vendor"), "any ttl");
    EXPECT_EQ(lookup(64, "\x01", list, ""), "no vendor");
    EXPECT_EQ(lookup(255, "\x09", "\x09", "star"), "byte 42 is the wildcard too");
    EXPECT_EQ(lookup(32, "", "", "*"), "star vendor");
    // No wildcard on the vendor, and the TTL class must agree unless 0.
    EXPECT_EQ(lookup(32, "\x01", list, ""), "fallback|1,3");
    EXPECT_EQ(lookup(32, codes, list, "vendorX"), "fallback|1,3");
}

// A matching row names the client in both formats, and neither has the
// dhcpvendor line or the list.
TEST_F(LookupTest, ReportsOfAMatchedRequestCarryTheRowsName) {
    fingerprint_table[0] = {64, "*", "\x01\x03", "acme", "Acme phone"};
    fingerprint_count = 1;
    const std::uint8_t mac[] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    dhcp_request request{};
    request.chaddr = byte_view(mac, sizeof mac);
    request.ip_ttl = 64;
    std::strcpy(request.parameter_list, "\x01\x03");
    std::strcpy(request.vendor_class, "acme");
    const std::pair<report_format, std::string> rows[] = {
        {report_format::text, "mac='00:1a:2b:3c:4d:5e'\n\nfingerprint='Acme phone'\n\n"},
        {report_format::json, "{\"mac\":\"00:1a:2b:3c:4d:5e\",\"fingerprint\":\"Acme phone\"}\n"},
    };
    for (const auto& [format, expected] : rows) {
        testing::internal::CaptureStdout();
        print_report(request, format);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), expected);
    }
}

}  // namespace
}  // namespace dhcpident
