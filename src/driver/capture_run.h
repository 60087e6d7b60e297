// The process-wide run state shared by the capture passes and the per-frame
// handler.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dhcpident {

// Longest target text: six bytes as "aa:bb:cc:dd:ee:ff".
inline constexpr std::size_t target_mac_max_length = 17;
// The most address bytes such a text can name: "xx" and ":xx" per byte.
inline constexpr std::size_t target_max_bytes = (target_mac_max_length + 1) / 3;

enum class report_format : std::uint8_t {
    text,  // key='value' lines, values as they are
    json,  // one JSON object a line
};

struct capture_run {
    char target_mac[target_mac_max_length + 1];
    std::int32_t pass_index;        // 0: counting pass, 1: reporting pass
    std::int32_t first_pass_count;  // target requests counted in the first pass
    std::int32_t second_pass_seen;  // target requests since the last report
    std::uint32_t processed_count;  // printed by the shutdown summary
    std::uint16_t link_header_len;  // bytes in front of the IP header
    // target_mac as the address bytes whose text it is; -1 when no address
    // renders to it. Set with target_mac by set_target_mac.
    std::int16_t target_length;
    std::uint8_t target_bytes[target_max_bytes];
    report_format format;           // of the reports and the summary
};

// Zero at start; never reset between passes but for pass_index. Named only
// by the pass driver, the per-frame handler and the signal summary.
extern capture_run the_run;

}  // namespace dhcpident
