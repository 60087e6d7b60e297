// Microbenchmarks of the per-frame path and the renderers.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "dhcp/select.h"
#include "frame_builder.h"
#include "text/render.h"

using namespace dhcpident;
using namespace testkit;

namespace {

bytes sample_request(const mac_address& client) {
    dhcp_frame f;
    f.client = client;
    f.vlan_tci = 100;
    f.options = concat({option(55, bytes{1, 3, 6, 15, 26, 28, 51, 58, 59, 43}),
                        option(60, "android-dhcp-13"), option(12, "Pixel-7"),
                        option(50, bytes{10, 0, 0, 7}), relay_agent_option(100, 1, 5, {2, 0, 0, 0, 0, 1})});
    return build(f);
}

const mac_address target{0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
const mac_address other{0x02, 0x00, 0x00, 0x00, 0x00, 0x01};

void BM_decode_dhcp_request(benchmark::State& state) {
    const bytes frame = sample_request(other);
    dhcp_request request;
    for (auto _ : state) {
        decode_dhcp_request(byte_view(frame.data(), frame.size()), 14, request);
        benchmark::DoNotOptimize(request);
    }
}
BENCHMARK(BM_decode_dhcp_request);

void handle(benchmark::State& state, const bytes& frame, std::int32_t pass) {
    capture_run run{};
    set_target_mac(run, "00:1a:2b:3c:4d:5e");
    run.link_header_len = 14;
    run.pass_index = pass;
    run.first_pass_count = 1 << 30;  // never reached: no report
    for (auto _ : state) handle_frame(byte_view(frame.data(), frame.size()), run);
    benchmark::DoNotOptimize(run.processed_count);
}

void BM_handle_packet_other_client(benchmark::State& state) { handle(state, sample_request(other), 0); }
BENCHMARK(BM_handle_packet_other_client);

void BM_handle_packet_not_dhcp(benchmark::State& state) {
    bytes frame(600, 0x5a);
    frame[12] = 0x08;
    frame[13] = 0x00;
    handle(state, frame, 0);
}
BENCHMARK(BM_handle_packet_not_dhcp);

void BM_handle_packet_target(benchmark::State& state) {
    handle(state, sample_request(target), 1);  // a target request flushes stdout
}
BENCHMARK(BM_handle_packet_target);

void BM_hex_colon_text(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(hex_colon_text(byte_view(target.data(), target.size())));
}
BENCHMARK(BM_hex_colon_text);

void BM_decimal_list_text(benchmark::State& state) {
    const char list[] = "\x01\x03\x06\x0f\x1a\x1c\x33\x3a\x3b\x2b";
    for (auto _ : state) benchmark::DoNotOptimize(decimal_list_text(list));
}
BENCHMARK(BM_decimal_list_text);

void BM_dotted_quad_text(benchmark::State& state) {
    const std::uint8_t quad[] = {192, 168, 100, 23};
    for (auto _ : state) benchmark::DoNotOptimize(dotted_quad_text(quad));
}
BENCHMARK(BM_dotted_quad_text);

}  // namespace

BENCHMARK_MAIN();
