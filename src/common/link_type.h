// Bytes of link-layer header in front of the IP header, by the capture's
// link type.
#pragma once

#include <cstdint>
#include <optional>

namespace dhcpident {

// Bytes in front of the IP header for a pcap link type (the value that
// pcap_datalink returns). For a type it does not know it writes a warning to
// stderr and yields no value.
std::optional<std::uint16_t> link_header_length(int link_type);

// The one rule for a capture's link type, in both programs: length becomes
// the type's header length; an unknown type writes the warning and leaves
// length as it was (0 before any capture set it), so that its frames are
// read with nothing in front of the IP header, or with the previous pass's
// header, as the reader reads them.
void set_link_header_len(int link_type, std::uint16_t& length);

}  // namespace dhcpident
