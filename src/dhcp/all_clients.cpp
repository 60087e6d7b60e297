#include "dhcp/all_clients.h"

#include <cstdio>

#include "base/output.h"
#include "dhcp/frame_layout.h"

namespace dhcpident {
namespace {

void warn_once(all_clients& clients, store_outcome outcome) {
    if (clients.warned) return;
    const client_limits& limits = limits_of(*clients.table);
    switch (outcome) {
    case store_outcome::table_full:
        std::fprintf(stderr, "Warning: Client table full (%u clients), further clients not reported\n",
                     static_cast<unsigned>(limits.max_clients));
        break;
    case store_outcome::over_budget:
        std::fprintf(stderr, "Warning: Client table full (%lu bytes), further clients not reported\n",
                     static_cast<unsigned long>(limits.max_memory));
        break;
    case store_outcome::crowded:
        std::fprintf(stderr, "Warning: Client index crowded (%u probes), further clients not reported\n",
                     static_cast<unsigned>(max_probe));
        break;
    case store_outcome::out_of_memory:
    case store_outcome::stored:
        std::fputs("Warning: Out of memory, further clients not reported\n", stderr);
        break;
    }
    clients.warned = true;
}

}  // namespace

void handle_frame_all(byte_view frame, capture_run& run, all_clients& clients) {
    ++run.processed_count;
    // Most frames are no request at all: the address and the message type
    // tell, without decoding the rest.
    const frame_layout layout = locate_headers(frame, run.link_header_len);
    byte_view address;
    if (client_address(frame, layout, address) != address_state::captured ||
        dhcp_message_type(frame, layout) != dhcp_request_type) {
        return;
    }
    dhcp_request request;
    decode_dhcp_request(frame, run.link_header_len, request);
    const store_outcome outcome = store_request(*clients.table, request);
    if (outcome != store_outcome::stored) warn_once(clients, outcome);
}

void print_client_reports(const client_table& table, report_format format, bool (*stop)()) {
    dhcp_request request;
    for (std::uint32_t i = 0; i < client_count(table); ++i) {
        if (stop != nullptr && stop()) return;
        if (!client_request(table, i, request)) continue;
        print_report(request, format);
        if (output_failed()) return;
    }
}

}  // namespace dhcpident
