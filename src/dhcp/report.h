// The report of one client's request, in either format.
#pragma once

#include <cstdint>

#include "dhcp/dhcp_request.h"

namespace dhcpident {

enum class report_format : std::uint8_t {
    text,  // key='value' lines, values as they are
    json,  // one JSON object a line
};

// Prints the report of request to stdout. Text: mac, the VLAN line (empty
// when untagged), dhcpvendor (without a fingerprint match), fingerprint,
// then hostname, req_ipaddr and option82 when present, and an empty line.
// JSON: one object a line with the same fields, each present exactly when
// the text has its line, numbers as numbers.
void print_report(const dhcp_request& request, report_format format);

}  // namespace dhcpident
