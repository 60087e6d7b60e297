// handle_packet compares client addresses as bytes and decodes only frames
// from the target; the straightforward path decodes every frame and
// compares rendered text. Both must count and print exactly alike.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dhcp/request.h"
#include "dhcp/select.h"
#include "capture_writer.h"
#include "frame_builder.h"
#include "pass_runner.h"
#include "text/render.h"

namespace dhcpident {
namespace {

using testkit::bytes;

struct run_outcome {
    std::string out;
    std::uint32_t processed;
    std::int32_t first_pass_count;
    bool operator==(const run_outcome&) const = default;
};

// The program's passes: the client address tested as bytes, only the
// target's frames decoded.
run_outcome program_passes(const std::string& capture, const std::string& target) {
    const testkit::pass_result result = testkit::run_passes(target, capture);
    return {result.out, result.run.processed_count, result.run.first_pass_count};
}

// The straightforward reading: every frame decoded, and a request (the
// program's one test of a request) whose address, rendered, is the target's
// text is counted and reported as the program does it.
run_outcome reference_passes(const std::vector<bytes>& frames, const std::string& target,
                             std::uint16_t link_header) {
    capture_run run{};
    testing::internal::CaptureStdout();
    for (std::int32_t pass = 0; pass < 2; ++pass) {
        run.pass_index = pass;
        for (const bytes& frame : frames) {
            const byte_view view(frame.data(), frame.size());
            dhcp_request request;
            decode_dhcp_request(view, link_header, request);
            byte_view address;
            if (is_dhcp_request(view, link_header, address) && hex_colon_text(address) == target) {
                select_and_report(request, run);
            } else {
                ++run.processed_count;
            }
        }
    }
    std::fflush(stdout);
    return {testing::internal::GetCapturedStdout(), run.processed_count, run.first_pass_count};
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
            // Appended, not "h" + std::to_string(i): g++ 12 at -O3 reports a
            // false -Wrestrict inside that concatenation.
            std::string host = "h";
            host += std::to_string(i);
            f.options = testkit::option(12, host);
            bytes frame = build(f);
            if (below(4) == 0) frame.resize(below(static_cast<unsigned>(frame.size()) + 1));
            frames.push_back(frame);
        }
        // Ethernet, or raw IP (no header) and BSD loopback (4 bytes).
        const int link_type = ethernet ? DLT_EN10MB : below(2) == 0 ? DLT_RAW : DLT_NULL;
        const std::uint16_t link_header = ethernet ? 14 : link_type == DLT_RAW ? 0 : 4;
        const std::string capture = testkit::capture_of(frames, link_type);
        for (const std::string& mac : targets) {
            if (mac.size() > target_mac_max_length) continue;
            const run_outcome fast = program_passes(capture, mac);
            const run_outcome straightforward = reference_passes(frames, mac, link_header);
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
            EXPECT_STREQ(hex_colon_text(byte_view(bytes, static_cast<std::size_t>(count))), r.text);
        }
    }
}

}  // namespace
}  // namespace dhcpident
