#pragma once

#include <cstdint>
#include <optional>

namespace dhcpident {

// Bytes in front of the IP header for a pcap link type (the value that
// pcap_datalink returns). For a type it does not know it writes a warning to
// stderr and yields no value; the caller keeps the length it had.
std::optional<std::uint16_t> link_header_length(int link_type);

}  // namespace dhcpident
