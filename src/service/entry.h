// dhcpident-capture: the writer of the capture dhcpident reads. It keeps
// every client's last DHCPREQUEST frame, bounded, and replaces the output
// with them whole, at most once per interval, live from interfaces or once
// from a capture file.
#pragma once

namespace dhcpident {

// The program: returns its exit status.
int run_dhcpident_capture(int argc, char** argv);

}  // namespace dhcpident
