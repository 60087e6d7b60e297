// The clients of --all, straight from the table: what makes two requests
// one client, what its index lets a search look at, and what its memory
// budget counts.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dhcp/client_table.h"
#include "dhcp/siphash.h"
#include "frame_builder.h"

namespace dhcpident {
namespace {

using address = std::vector<std::uint8_t>;

dhcp_request request_with(const address& client, const std::string& host) {
    dhcp_request request{};
    request.chaddr = byte_view(client.data(), client.size());
    request.chaddr_captured = true;
    std::strcpy(request.hostname, host.c_str());
    return request;
}

address client(std::uint32_t n) {
    return {2, 0, static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
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
        address first(100, 0xab), second = first;
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
// fewer rounds. Then, under a known key, 129 addresses whose hashes share
// their slot of the 512 slots that 129 clients take: 128 lie in the 128
// slots a search looks at, the 129th is refused, and so is any later new
// client. Last, addresses prepared to collide in the old, unkeyed hash,
// which under the keyed one spread out like any others.
TEST(ClientTableTest, TheIndexHashIsKeyedAndNoSearchLooksAtMoreThan128Slots) {
    std::uint8_t message[15];
    for (std::uint8_t i = 0; i < 15; ++i) message[i] = i;
    EXPECT_EQ((siphash<2, 4>(0x0706050403020100u, 0x0f0e0d0c0b0a0908u, byte_view(message, 15))),
              0xa129ca6149be45e5u);

    const hash_key key{0x0123456789abcdefu, 0x0f1e2d3c4b5a6978u};
    client_table* table = create_client_table({65536, default_max_memory}, key);
    std::string outcomes;
    for (std::uint32_t n = 0; outcomes.size() < 129; ++n) {
        const address a = client(n);
        if ((siphash<1, 3>(key.k0, key.k1, byte_view(a.data(), a.size())) & 511) != 0) continue;
        outcomes += store_request(*table, request_with(a, "h")) == store_outcome::stored ? "S" : "C";
    }
    EXPECT_EQ(outcomes, std::string(128, 'S') + "C");
    EXPECT_EQ(figures_of(*table).longest_probe, max_probe - 1);
    EXPECT_EQ(store_request(*table, request_with(client(0xffffff), "h")), store_outcome::crowded);
    destroy_client_table(table);

    const std::vector<testkit::mac_address> addresses = testkit::fnv_colliding_addresses(16384);
    table = create_client_table({65536, default_max_memory}, {1, 2});
    for (const testkit::mac_address& prepared : addresses) {
        ASSERT_EQ(store_request(*table, request_with(address(prepared.begin(), prepared.end()), "h")),
                  store_outcome::stored);
    }
    EXPECT_EQ(client_count(*table), addresses.size());
    const std::uint32_t longest = figures_of(*table).longest_probe;
    EXPECT_LT(longest, max_probe / 2);
    std::printf("prepared collisions: %zu clients, longest probe %u slots\n", addresses.size(),
                static_cast<unsigned>(longest));
    destroy_client_table(table);
}

int allocation_to_fail;  // counted from 1 for the table itself; 0: none
std::map<void*, std::size_t> held;  // the blocks given out and not back, by address

// Fails the allocation_to_fail-th allocation, and keeps held up to date.
void* test_allocator(void* block, std::size_t size) {
    if (size != 0 && --allocation_to_fail == 0) return nullptr;
    if (block != nullptr) held.erase(block);
    void* taken = size == 0 ? (std::free(block), nullptr) : std::realloc(block, size);
    if (taken != nullptr) held[taken] = size;
    return taken;
}

// Each allocation of the table made to fail in turn. The allocations are
// the table, then for client a its record list, index and record, for b its
// record, and for a's longer host name a's grown record. Once a new client
// is refused, so is every later one.
TEST(ClientTableTest, ARequestWithoutMemoryIsNotKeptAndNeverReportedStale) {
    const address a = client(1), b = client(2);
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
        client_table* table = create_client_table({16, default_max_memory}, {1, 2}, test_allocator);
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

// What the budget counts is the block_charge of each block the table holds
// (its own small block aside), after every step: new clients, the index
// doubled at the 33rd and the 65th, records grown for longer host names
// (every tenth request). Then the budget itself: what one client costs
// fits, a byte less does not.
TEST(ClientTableTest, TheBudgetCountsWhatEveryBlockHolds) {
    allocation_to_fail = 0;
    client_table* table = create_client_table({65536, default_max_memory}, {1, 2}, test_allocator);
    const std::size_t own = block_charge(held[table]);
    for (std::uint32_t n = 0; n < 80; ++n) {
        const bool grow = n % 10 == 9;
        store_request(*table, request_with(client(grow ? n / 10 : n), std::string(grow ? 200 : 1, 'h')));
        std::size_t counted = 0;
        for (const auto& [block, size] : held) counted += block_charge(size);
        ASSERT_EQ(figures_of(*table).memory, counted - own) << n;
    }
    destroy_client_table(table);
    EXPECT_TRUE(held.empty());

    table = create_client_table({16, default_max_memory}, {1, 2});
    store_request(*table, request_with(client(1), "a"));
    const std::size_t one_client = figures_of(*table).memory;
    destroy_client_table(table);
    for (const std::size_t budget : {one_client, one_client - 1}) {
        table = create_client_table({16, budget}, {1, 2});
        EXPECT_EQ(store_request(*table, request_with(client(1), "a")) == store_outcome::stored,
                  budget == one_client) << budget;
        EXPECT_EQ(store_request(*table, request_with(client(2), "b")), store_outcome::over_budget);
        destroy_client_table(table);
    }
}

}  // namespace
}  // namespace dhcpident
