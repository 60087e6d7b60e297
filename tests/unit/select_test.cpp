#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dhcp/client_table.h"
#include "dhcp/select.h"
#include "dhcp/siphash.h"
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

TEST_F(SelectTest, TargetTextMustMatchExactly) {
    const std::vector<bytes> frames = {request(target_mac)};
    const testkit::pass_result upper = both_passes(frames, frames, "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(upper.out, "");
    EXPECT_EQ(upper.run.processed_count, 2u);

    // An empty target matches a client address of length 0.
    dhcp_frame no_address;
    no_address.hlen = 0;
    EXPECT_EQ(both_passes({build(no_address)}, {build(no_address)}, "").out,
              "mac=''\n\ndhcpvendor=''\nfingerprint=''\n\n");
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


// The clients of --all, straight from the table: what it keeps when
// addresses are long, and when memory runs out.
dhcp_request request_with(const std::vector<std::uint8_t>& address, const std::string& host) {
    dhcp_request request{};
    request.chaddr = byte_view(address.data(), address.size());
    request.chaddr_captured = true;
    std::strcpy(request.hostname, host.c_str());
    return request;
}

// Host names of the clients' reports, in order; "-" for a withheld one.
std::vector<std::string> reports_of(const client_table& table) {
    std::vector<std::string> hosts;
    dhcp_request request;
    for (std::uint32_t i = 0; i < client_count(table); ++i) {
        hosts.push_back(client_request(table, i, request) ? request.hostname : "-");
    }
    return hosts;
}

TEST(ClientTableTest, AddressesAgreeingInTheBytesTheirTextShowsAreOneClient) {
    // A text keeps 85 bytes of an address; the 86th does not tell clients apart.
    for (const auto& [differ_at, clients] : {std::pair{84, 2u}, std::pair{85, 1u}}) {
        std::vector<std::uint8_t> first(100, 0xab), second = first;
        second[differ_at] = 0xcd;
        client_table* table = create_client_table({16, default_max_memory}, {1, 2});
        store_request(*table, request_with(first, "first"));
        store_request(*table, request_with(second, "second"));
        EXPECT_EQ(client_count(*table), clients) << differ_at;
        EXPECT_EQ(reports_of(*table).back(), "second") << differ_at;
        destroy_client_table(table);
    }
}

// SipHash-2-4 of the paper's example, the algorithm the index uses with
// fewer rounds; then addresses prepared to collide in the old, unkeyed
// hash, which under the keyed one spread out like any others.
TEST(ClientTableTest, TheIndexHashIsKeyedAndNoPreparedAddressesCrowdIt) {
    std::uint8_t message[15];
    for (std::uint8_t i = 0; i < 15; ++i) message[i] = i;
    EXPECT_EQ((siphash<2, 4>(0x0706050403020100u, 0x0f0e0d0c0b0a0908u, byte_view(message, 15))),
              0xa129ca6149be45e5u);

    const std::vector<testkit::mac_address> addresses = testkit::fnv_colliding_addresses(16384);
    client_table* table = create_client_table({65536, default_max_memory}, {1, 2});
    for (const testkit::mac_address& address : addresses) {
        const std::vector<std::uint8_t> bytes(address.begin(), address.end());
        ASSERT_EQ(store_request(*table, request_with(bytes, "h")), store_outcome::stored);
    }
    EXPECT_EQ(client_count(*table), addresses.size());
    const std::uint32_t longest = figures_of(*table).longest_probe;
    EXPECT_LT(longest, max_probe / 2);
    std::printf("prepared collisions: %zu clients, longest probe %u slots\n", addresses.size(),
                static_cast<unsigned>(longest));
    destroy_client_table(table);
}

int allocation_to_fail;  // counted from 1 for the table itself; 0: none

void* failing_allocator(void* block, std::size_t size) {
    return --allocation_to_fail == 0 ? nullptr : std::realloc(block, size);
}

// Each allocation of the table made to fail in turn. The allocations are
// the table, then for client a its record list, index and record, for b its
// record, and for a's longer host name a's grown record. Once a new client
// is refused, so is every later one.
TEST(ClientTableTest, ARequestWithoutMemoryIsNotKeptAndNeverReportedStale) {
    const std::vector<std::uint8_t> a = {2, 0, 0, 0, 0, 1}, b = {2, 0, 0, 0, 0, 2};
    const std::string longer(100, 'L');
    struct row {
        int fail;
        std::string outcomes;  // S stored, O out of memory, per request
        std::vector<std::string> reports, then;  // then: after a request of a that fits
    } rows[] = {
        {0, "SSS", {longer, "b"}, {"a2", "b"}}, {2, "OOO", {}, {}}, {3, "OOO", {}, {}},
        {4, "OOO", {}, {}}, {5, "SOS", {longer}, {"a2"}}, {6, "SSO", {"-", "b"}, {"a2", "b"}},
    };
    for (const row& r : rows) {
        allocation_to_fail = r.fail;
        client_table* table = create_client_table({16, default_max_memory}, {1, 2}, failing_allocator);
        std::string outcomes;
        for (const dhcp_request& request :
             {request_with(a, "a"), request_with(b, "b"), request_with(a, longer)}) {
            outcomes += store_request(*table, request) == store_outcome::stored ? "S" : "O";
        }
        EXPECT_EQ(outcomes, r.outcomes) << r.fail;
        EXPECT_EQ(reports_of(*table), r.reports) << r.fail;
        // A later request that fits the room a has is its last, and reported.
        store_request(*table, request_with(a, "a2"));
        EXPECT_EQ(reports_of(*table), r.then) << r.fail;
        destroy_client_table(table);
    }
}

}  // namespace
}  // namespace dhcpident
