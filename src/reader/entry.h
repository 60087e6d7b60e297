// The program's entry.
#pragma once

namespace dhcpident {

// The whole program: start-up checks, the passes, the reports and the
// summary. Returns its exit status.
int run_dhcpident(int argc, char** argv);

}  // namespace dhcpident
