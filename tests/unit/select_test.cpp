#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dhcp/select.h"
#include "capture_writer.h"
#include "frame_builder.h"
#include "pass_runner.h"

namespace dhcpident {
namespace {

using testkit::bytes;
using testkit::concat;
using testkit::dhcp_frame;
using testkit::option;

const testkit::mac_address target_mac{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
const testkit::mac_address other_mac{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5f};

constexpr char target[] = "00:1a:2b:3c:4d:5e";

// Runs the program's two passes over captures of the given frames.
class SelectTest : public testing::Test {
protected:
    static testkit::pass_result both_passes(const std::vector<bytes>& first,
                                   const std::vector<bytes>& second,
                                   const char* target_text = target) {
        return testkit::run_passes(target_text, testkit::capture_of(first),
                                   testkit::capture_of(second));
    }

    static bytes request(const testkit::mac_address& mac, bytes options = {}) {
        dhcp_frame f;
        f.client = mac;
        f.options = std::move(options);
        return build(f);
    }
};

TEST_F(SelectTest, CountsAndReportsTheLastOfThreeRequests) {
    dhcp_frame discover;
    discover.message_type = 1;  // DHCPDISCOVER from the target: not a request
    const std::vector<bytes> frames = {
        request(target_mac, option(12, "one")), testkit::non_dhcp_frame(1), build(discover),
        request(other_mac), request(target_mac, option(12, "two")), testkit::non_dhcp_frame(2),
        request(other_mac), bytes(10, 0), request(target_mac, option(12, "three")),
        testkit::non_dhcp_frame(3),
    };
    // The first pass does not count the target's requests as processed.
    const testkit::pass_result counted = both_passes(frames, {});
    EXPECT_EQ(counted.out, "");
    EXPECT_EQ(counted.run.first_pass_count, 3);
    EXPECT_EQ(counted.run.processed_count, 7u);

    const testkit::pass_result reported = both_passes(frames, frames);
    EXPECT_EQ(reported.out,
              "mac='00:1a:2b:3c:4d:5e'\n\ndhcpvendor=''\nfingerprint=''\nhostname='three'\n\n");
    EXPECT_EQ(reported.run.processed_count, 17u);
    EXPECT_EQ(reported.run.second_pass_seen, 0);
}

TEST_F(SelectTest, GrownCaptureReportsAtEveryMultipleOfTheFirstCount) {
    const bytes r = request(target_mac);
    const std::string report = "mac='00:1a:2b:3c:4d:5e'\n\ndhcpvendor=''\nfingerprint=''\n\n";
    EXPECT_EQ(both_passes({r, r}, {r, r, r, r, r}).out, report + report);
    EXPECT_EQ(both_passes({}, {r, r}).out, "");  // no first-pass request: no report
}

TEST_F(SelectTest, ReportLines) {
    struct row {
        const char* name;
        std::optional<std::uint16_t> tci;
        bytes options;
        std::string expected_after_mac;
    };
    const row rows[] = {
        {"tagged, everything present", 0x0064,
         concat({option(55, bytes{1, 3, 6, 15}), option(60, "MSFT 5.0"), option(12, "pc-1"),
                 option(50, bytes{192, 168, 1, 10}),
                 testkit::relay_agent_option(100, 1, 5, {0xa, 0xb, 0xc, 0xd, 0xe, 0xf})}),
         "VLAN='100'\ndhcpvendor='MSFT 5.0'\nfingerprint='1,3,6,15'\nhostname='pc-1'\n"
         "req_ipaddr='192.168.1.10'\n"
         "option82=remote_id 0a:0b:0c:0d:0e:0f circuit_id vlan 100 unit 1 port 5\n\n"},
        {"remote-id without circuit-id", std::nullopt,
         option(82, option(2, bytes{0, 4, 0x0A, 0x0B, 0x0C, 0x0D})),
         "\ndhcpvendor=''\nfingerprint=''\n"
         "option82=remote_id 0a:0b:0c:0d:00:00 circuit_id vlan 0 unit 0 port 0\n\n"},
        {"circuit-id without remote-id", std::nullopt,
         option(82, option(1, bytes{0, 4, 0, 100, 1, 5})), "\ndhcpvendor=''\nfingerprint=''\n\n"},
        {"remote-id starting with 0 is left out", std::nullopt,
         option(82, option(2, bytes{0, 3, 0, 9, 9})), "\ndhcpvendor=''\nfingerprint=''\n\n"},
        {"values are printed unescaped", std::nullopt,
         concat({option(12, "a'b\nc"), option(60, "q\"")}),
         "\ndhcpvendor='q\"'\nfingerprint=''\nhostname='a'b\nc'\n\n"},
        {"requested address 0.0.0.0 is left out", std::nullopt, option(50, bytes{0, 0, 0, 0}),
         "\ndhcpvendor=''\nfingerprint=''\n\n"},
    };
    for (const row& r : rows) {
        dhcp_frame f;
        f.vlan_tci = r.tci;
        f.options = r.options;
        EXPECT_EQ(both_passes({build(f)}, {build(f)}).out, "mac='00:1a:2b:3c:4d:5e'\n" + r.expected_after_mac)
            << r.name;
    }
}
}  // namespace
}  // namespace dhcpident
