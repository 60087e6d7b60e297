// Every client in one pass: the last DHCPREQUEST of each client, kept in a
// client table until the end of the capture, then reported in the order of
// first requests.
#pragma once

#include "base/byte_view.h"
#include "dhcp/client_table.h"
#include "dhcp/report.h"
#include "dhcp/select.h"

namespace dhcpident {

// A table for the requests of --all: it refuses clients past its bounds.
// Null when memory runs out.
client_table* create_request_table(client_limits limits, hash_key key,
                                   const page_source* pages = nullptr);

// Keeps request as its client's last (its client_key is the client).
store_outcome store_request(client_table& table, const dhcp_request& request);

// The last request of client i, as the decoder gave it. False when it has
// none: then any report of it would be of an older request.
bool client_request(const client_table& table, std::uint32_t i, dhcp_request& out);

// The pass's state: the table, and whether the one warning for requests
// not kept has been written.
struct all_clients {
    client_table* table;
    bool warned;
};

// One frame of the pass of --all: counted as processed in run; a request
// is kept as its client's last in clients. A request that cannot be kept
// writes, the first time, "Warning: ... further clients not reported",
// naming the bound reached or the lack of memory.
void handle_frame_all(byte_view frame, capture_run& run, all_clients& clients);

// Prints each client's report, in the order of first requests, as the
// default mode prints it; a client whose last request could not be kept has
// none. Stops at the first report that could not be written (the rest would
// be lost as well), and before the next report once stop says so (a
// termination signal: the report in hand is finished).
void print_client_reports(const client_table& table, report_format format,
                          bool (*stop)() = nullptr);

}  // namespace dhcpident
