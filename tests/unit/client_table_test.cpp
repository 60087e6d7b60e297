// The clients of --all, straight from the table: what makes two requests
// one client, what its index lets a search look at, and what its memory
// budget counts.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "dhcp/all_clients.h"
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
    const testkit::mac_address mac = testkit::client(n);
    return address(mac.begin(), mac.end());
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
        client_table* table = create_request_table({16, default_max_memory}, {1, 2});
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
    client_table* table = create_request_table({65536, default_max_memory}, key);
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
    table = create_request_table({65536, default_max_memory}, {1, 2});
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

int mappings_left = -1;  // then every mapping fails; -1: none does
std::map<void*, std::size_t> held;  // what the table has mapped, by address

void* test_map(std::size_t bytes) {
    if (mappings_left == 0) return nullptr;
    if (mappings_left > 0) --mappings_left;
    void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    held[pages] = bytes;
    return pages;
}

void test_unmap(void* pages, std::size_t bytes) {
    EXPECT_EQ(held[pages], bytes);
    held.erase(pages);
    munmap(pages, bytes);
}

constexpr page_source test_pages{test_map, test_unmap};
constexpr std::size_t small_budget = 64 << 10;  // chunks of a page

// The table maps its record list, its index and a chunk for its first
// client: each refused in turn refuses the client. Then, with no chunk
// beyond the first, new clients until one finds no room, after which every
// new client is refused; a known client that needs a larger block then is
// not reported, until a later request of it is kept.
TEST(ClientTableTest, ARequestWithoutMemoryIsNotKeptAndNeverReportedStale) {
    for (int left : {0, 1, 2}) {
        mappings_left = left;
        client_table* table = create_request_table({16, small_budget}, {1, 2}, &test_pages);
        EXPECT_EQ(store_request(*table, request_with(client(0), "a")), store_outcome::out_of_memory);
        EXPECT_EQ(client_count(*table), 0u) << left;
        destroy_client_table(table);
    }
    mappings_left = 3;
    client_table* table = create_request_table({1000, small_budget}, {1, 2}, &test_pages);
    std::uint32_t kept = 0;
    while (store_request(*table, request_with(client(kept), std::string(100, 'h'))) ==
           store_outcome::stored) {
        ++kept;
    }
    EXPECT_EQ(store_request(*table, request_with(client(kept + 1), "x")), store_outcome::out_of_memory);
    const std::string longer(255, 'L');
    EXPECT_EQ(store_request(*table, request_with(client(0), longer)), store_outcome::out_of_memory);
    std::vector<std::string> expected(kept, std::string(100, 'h'));
    expected[0] = "-";
    EXPECT_EQ(reports_of(*table), expected);
    mappings_left = -1;
    EXPECT_EQ(store_request(*table, request_with(client(0), longer)), store_outcome::stored);
    expected[0] = longer;
    EXPECT_EQ(reports_of(*table), expected);
    destroy_client_table(table);
}

// Clients whose requests grow, shrink and grow again move to larger blocks,
// leave holes and are compacted, again and again: each report is still the
// client's last request kept, in the order of first requests, and what the
// table counts is every byte it has mapped, within the budget. Then the
// budget itself: what one client costs fits, a byte less does not.
TEST(ClientTableTest, MovedAndCompactedRecordsKeepEachClientsLastRequest) {
    for (const std::size_t budget : {small_budget, std::size_t{256} << 10}) {
        client_table* table = create_request_table({65536, budget}, {1, 2}, &test_pages);
        std::vector<std::string> model;  // by first request; "-": withheld
        std::map<std::uint32_t, std::size_t> position;
        std::uint32_t seed = 12345;
        for (int n = 0; n < 6000; ++n) {
            seed = seed * 1103515245 + 12345;
            const std::uint32_t who = seed >> 22 & 1023;
            const std::string host(1 + (seed >> 8 & 0xff) % 255, static_cast<char>('a' + n % 26));
            const bool kept = store_request(*table, request_with(client(who), host)) == store_outcome::stored;
            const auto known = position.find(who);
            if (known != position.end()) {
                model[known->second] = kept ? host : "-";
            } else if (kept) {
                position[who] = model.size();
                model.push_back(host);
            }
            std::size_t mapped = 0;
            for (const auto& [pages, bytes] : held) mapped += bytes;
            ASSERT_EQ(figures_of(*table).memory, mapped) << n;
            ASSERT_LE(mapped, budget) << n;
        }
        EXPECT_EQ(reports_of(*table), model) << budget;
        destroy_client_table(table);
        EXPECT_TRUE(held.empty());
    }

    // Clients that all grow in five steps: their moves take more than the
    // budget, what they hold at the end a third of it. Only compacting the
    // holes, again and again, keeps every one reported.
    client_table* table = create_request_table({65536, small_budget}, {1, 2}, &test_pages);
    for (std::size_t step = 1; step <= 5; ++step) {
        for (std::uint32_t n = 0; n < 80; ++n) {
            ASSERT_EQ(store_request(*table, request_with(client(n), std::string(50 * step, 'g'))),
                      store_outcome::stored) << step << " " << n;
        }
    }
    EXPECT_EQ(reports_of(*table), std::vector<std::string>(80, std::string(250, 'g')));
    destroy_client_table(table);

    // Each compaction moves every record, so it waits for a quarter of the
    // chunks to be holes: new clients with none compact nothing, clients
    // that grow step by step leave holes until one compaction takes them,
    // and after it new clients again compact nothing.
    table = create_request_table({65536, 4 << 20}, {1, 2});
    auto new_clients = [&](std::uint32_t from) {
        for (std::uint32_t n = from; n < from + 2000; ++n) {
            ASSERT_EQ(store_request(*table, request_with(client(n), std::string(20, 'n'))), store_outcome::stored);
        }
    };
    new_clients(0);
    EXPECT_EQ(figures_of(*table).compactions, 0u);
    for (std::size_t host = 60; host <= 220 && figures_of(*table).compactions == 0; host += 40) {
        for (std::uint32_t n = 0; n < 2000 && figures_of(*table).compactions == 0; ++n) {
            store_request(*table, request_with(client(n), std::string(host, 'g')));
        }
    }
    EXPECT_EQ(figures_of(*table).compactions, 1u);
    new_clients(2000);
    EXPECT_EQ(figures_of(*table).compactions, 1u);
    destroy_client_table(table);

    table = create_request_table({16, small_budget}, {1, 2});
    store_request(*table, request_with(client(1), "a"));
    const std::size_t one_client = figures_of(*table).memory;
    destroy_client_table(table);
    for (const std::size_t budget : {one_client, one_client - 1}) {
        table = create_request_table({16, budget}, {1, 2});
        EXPECT_EQ(store_request(*table, request_with(client(1), "a")) == store_outcome::stored,
                  budget == one_client) << budget;
        // A second client shares the first one's chunk, at no cost.
        store_request(*table, request_with(client(2), "b"));
        EXPECT_EQ(figures_of(*table).memory == one_client, budget == one_client) << budget;
        destroy_client_table(table);
    }
}

}  // namespace
}  // namespace dhcpident

namespace dhcpident {
namespace {

// A table that drops, at its client bound and at a memory budget, with
// 300 addresses asking in a random order: after every request the clients
// it keeps are those with the newest last requests (all the bound holds,
// at the client bound), each with its last entry, in the order in which
// they were (last) taken in.
TEST(ClientTableTest, ATableThatDropsKeepsTheNewestClientsInTheOrderTheyCame) {
    for (const client_limits limits : {client_limits{64, default_max_memory}, client_limits{65536, 16 << 10}}) {
        client_table* table = create_client_table(limits, {3, 4}, table_shape{600, 0, true});
        std::map<std::uint32_t, std::uint32_t> last, taken_in;  // steps, by client
        std::uint32_t seed = 99;
        for (std::uint32_t step = 1; step <= 4000; ++step) {
            seed = seed * 1103515245 + 12345;
            const std::uint32_t who = (seed >> 16) % 8 == 0 ? 7 : (seed >> 8) % 300;
            const address a = client(who);
            const std::string entry = std::to_string(step) + std::string(seed % 500, 'e');
            store_outcome outcome;
            unsigned char* room = store_entry(*table, byte_view(a.data(), a.size()), entry.size(), outcome);
            ASSERT_NE(room, nullptr) << step;
            std::memcpy(room, entry.data(), entry.size());
            taken_in.try_emplace(who, step);
            last[who] = step;
            std::vector<std::uint32_t> kept;
            std::uint32_t oldest_kept = step;
            byte_view key, stored;
            for (std::uint32_t i = 0; i < client_count(*table); ++i) {
                if (!client_entry(*table, i, key, stored)) continue;
                const std::uint32_t k = key.u8(5) | (key.u8(4) ^ 1) << 8;
                std::string text(stored.size(), '\0');
                stored.copy_to(0, stored.size(), reinterpret_cast<std::uint8_t*>(text.data()));
                ASSERT_EQ(std::stoul(text), last[k]) << step;
                ASSERT_TRUE(kept.empty() || taken_in[kept.back()] < taken_in[k]) << step;
                kept.push_back(k);
                oldest_kept = std::min(oldest_kept, last[k]);
            }
            for (auto it = taken_in.begin(); it != taken_in.end();) {
                const bool dropped = std::find(kept.begin(), kept.end(), it->first) == kept.end();
                ASSERT_FALSE(dropped && last[it->first] > oldest_kept) << step;
                it = dropped ? taken_in.erase(it) : std::next(it);  // its next request takes it in anew
            }
            ASSERT_TRUE(limits.max_clients != 64 || kept.size() == std::min<std::size_t>(64, last.size())) << step;
        }
        EXPECT_GT(figures_of(*table).dropped, 0u);
        EXPECT_LE(figures_of(*table).memory, limits.max_memory);
        destroy_client_table(table);
    }
}

}  // namespace
}  // namespace dhcpident

namespace dhcpident {
namespace {

// What the default budget holds, as the manuals say: clients with every
// text at its longest (four 255-byte values), with 6-byte and 85-byte
// addresses, and clients of a phone's usual size (7 option codes, 11
// parameters, a 15-character vendor class, a 14-character host name).
// Counted through the library until the first request refused.
TEST(ClientTableTest, TheDefaultBudgetHoldsTheClientsTheManualsPromise) {
    struct row {
        const char* name;
        std::size_t address_bytes, text_bytes, parameters, vendor_bytes, host_bytes;
        std::uint32_t at_least;  // the manuals' figure
    } rows[] = {
        {"longest texts, 6-byte addresses", 6, 255, 255, 255, 255, 6000},
        {"longest texts, 85-byte addresses", 85, 255, 255, 255, 255, 5700},
        {"a phone's usual size", 6, 7, 11, 15, 14, 56000},
    };
    for (const row& r : rows) {
        client_table* table = create_request_table({largest_max_clients, default_max_memory}, {5, 6});
        dhcp_request request{};
        std::memset(request.option_codes, 'c', r.text_bytes);
        std::memset(request.parameter_list, 'p', r.parameters);
        std::memset(request.vendor_class, 'v', r.vendor_bytes);
        std::memset(request.hostname, 'h', r.host_bytes);
        address a(r.address_bytes, 0x5a);
        std::uint32_t held = 0;
        for (;; ++held) {
            const address number = client(held);
            std::copy(number.begin(), number.end(), a.begin());
            request.chaddr = byte_view(a.data(), a.size());
            request.chaddr_captured = true;
            if (store_request(*table, request) != store_outcome::stored) break;
        }
        std::printf("capacity: 8 MiB holds %u clients: %s\n", static_cast<unsigned>(held), r.name);
        EXPECT_GE(held, r.at_least) << r.name;
        destroy_client_table(table);
    }
}

}  // namespace
}  // namespace dhcpident
