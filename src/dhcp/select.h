// Per-frame work of the default mode: pick out the target's DHCPREQUESTs,
// count them, and print the report for the one the first pass said was the
// last. The run record is the caller's: the reader holds the one
// of the process and hands it to every frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"
#include "dhcp/dhcp_request.h"
#include "dhcp/report.h"

namespace dhcpident {

// Longest target text: six bytes as "aa:bb:cc:dd:ee:ff".
inline constexpr std::size_t target_mac_max_length = 17;
// The most address bytes such a text can name: "xx" and ":xx" per byte.
inline constexpr std::size_t target_max_bytes = (target_mac_max_length + 1) / 3;

// What a run's passes share with the per-frame work: zero at start, never
// reset between passes but for pass_index.
struct capture_run {
    std::int32_t pass_index;        // 0: counting pass, 1: reporting pass
    std::int32_t first_pass_count;  // target requests counted in the first pass
    std::int32_t second_pass_seen;  // target requests since the last report
    std::uint32_t processed_count;  // printed by the shutdown summary
    std::uint16_t link_header_len;  // bytes in front of the IP header
    // The target as the address bytes whose text it is: -1 when no address
    // renders to it. Set by set_target_mac.
    std::int16_t target_length;
    std::uint8_t target_bytes[target_max_bytes];
    report_format format;           // of the reports and the summary
};

// One frame of a pass over run. Only the target's requests change more
// than processed_count, and nearly every frame is from another client or
// no DHCP at all: the client address alone tells, without decoding the
// rest, and only the target's requests are decoded.
void handle_frame(byte_view frame, capture_run& run);

// Sets the target of run: the address bytes whose text is text, so that
// frames can be compared without rendering. text holds at most
// target_mac_max_length characters.
void set_target_mac(capture_run& run, const char* text);

// Whether a client address is the target's: the same answer as rendering
// it and comparing the text with the target's.
bool is_target(byte_view address, const capture_run& run);

// Counts a decoded request from the target in run and, in the second pass,
// prints the report when the target's request count reaches the first
// pass's.
void select_and_report(const dhcp_request& request, capture_run& run);

}  // namespace dhcpident
