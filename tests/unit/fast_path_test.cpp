// handle_packet compares client addresses as bytes and decodes only frames
// from the target; the straightforward path decodes every frame and
// compares rendered text. Both must count and print exactly alike.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "dhcp/select.h"
#include "driver/capture_run.h"
#include "frame_builder.h"
#include "text/render.h"

namespace dhcpident {
namespace {

using testkit::bytes;

struct run_outcome {
    std::string out;
    std::vector<std::uint32_t> counters;  // after each pass
    bool operator==(const run_outcome&) const = default;
};

template <typename PerFrame>
run_outcome run_both_passes(const std::vector<bytes>& frames, const std::string& target,
                            std::uint16_t link_header, PerFrame per_frame) {
    the_run = capture_run{};
    set_target_mac(target.c_str());
    the_run.link_header_len = link_header;
    run_outcome outcome;
    testing::internal::CaptureStdout();
    for (std::int32_t pass = 0; pass < 2; ++pass) {
        the_run.pass_index = pass;
        for (const bytes& frame : frames) per_frame(frame);
        outcome.counters.insert(outcome.counters.end(),
                                {static_cast<std::uint32_t>(the_run.first_pass_count),
                                 static_cast<std::uint32_t>(the_run.second_pass_seen),
                                 the_run.processed_count});
    }
    std::fflush(stdout);
    outcome.out = testing::internal::GetCapturedStdout();
    return outcome;
}

TEST(FastPathTest, SameCountsAndOutputAsDecodingEveryFrame) {
    const testkit::mac_address target{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    const std::vector<std::string> targets = {
        "00:1a:2b:3c:4d:5e", "00:1A:2B:3C:4D:5E", "", "00", "00:1a", "00:1a:2b:3c:4d",
        "0:1a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5", "00:1a:2b:3c:4d:5f", "00-1a-2b-3c-4d-5e", "zz",
        "00:1a:2b:3c:4d:5e:"};
    const std::uint8_t lengths[] = {0, 1, 2, 5, 6, 7, 16, 100, 255};
    std::mt19937 random(20261208);
    auto below = [&](unsigned n) { return static_cast<unsigned>(random() % n); };

    int reports = 0;
    for (int round = 0; round < 60; ++round) {
        const bool ethernet = below(4) != 0;
        std::vector<bytes> frames;
        for (int i = 0; i < 12; ++i) {
            testkit::dhcp_frame f;
            f.ethernet = ethernet;
            f.client = target;
            if (below(3) == 0) f.client[below(6)] ^= static_cast<std::uint8_t>(1 + below(255));
            f.hlen = lengths[below(sizeof lengths)];
            f.message_type = below(4) == 0 ? 1 : 3;
            if (below(5) == 0) f.vlan_tci = static_cast<std::uint16_t>(below(8192));
            f.options = testkit::option(12, "h" + std::to_string(i));
            bytes frame = build(f);
            if (below(4) == 0) frame.resize(below(static_cast<unsigned>(frame.size()) + 1));
            frames.push_back(frame);
        }
        const std::uint16_t link_header = ethernet ? 14 : static_cast<std::uint16_t>(below(2) * 4);
        for (const std::string& mac : targets) {
            if (mac.size() > target_mac_max_length) continue;
            const run_outcome fast = run_both_passes(frames, mac, link_header, [](const bytes& frame) {
                pcap_pkthdr header{};
                header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
                handle_packet(nullptr, &header, frame.data());
            });
            const run_outcome straightforward =
                run_both_passes(frames, mac, link_header, [&](const bytes& frame) {
                    static dhcp_request request;
                    decode_dhcp_request(frame.data(), static_cast<std::uint32_t>(frame.size()),
                                        link_header, request);
                    select_and_report(request);
                });
            ASSERT_EQ(fast, straightforward) << "round " << round << ", target '" << mac << "'";
            reports += !fast.out.empty();
        }
    }
    EXPECT_GT(reports, 30);  // the comparison covered runs with reports
}

TEST(FastPathTest, ParsedTargetIsTheInverseOfTheRenderer) {
    struct row {
        const char* text;
        int count;
    } rows[] = {{"", 0},      {"00", 1},        {"0a:ff", 2},  {"00:1a:2b:3c:4d:5e", 6}, {"0A", -1},
                {"0", -1},    {"00:", -1},      {":00", -1},   {"00::11", -1},           {"0g", -1},
                {"001a", -1}, {"00-1a", -1},    {"00:1a:2b:3c:4d:5e:6f", -1}};
    for (const row& r : rows) {
        std::uint8_t bytes[6];
        const int count = parse_hex_colon_text(r.text, bytes, sizeof bytes);
        EXPECT_EQ(count, r.count) << r.text;
        if (count >= 0) {
            EXPECT_STREQ(hex_colon_text(bytes, static_cast<std::uint8_t>(count)), r.text);
        }
    }
}

}  // namespace
}  // namespace dhcpident
