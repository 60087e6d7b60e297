// dhcpident-capture -i: live capture on the interfaces, the file replaced
// at most once an interval, until a termination signal or a lost interface.
#pragma once

#include "service/command_line.h"

namespace dhcpident {

// Needs root to start; runs as the unprivileged account before it reads a
// frame. Returns the exit status.
int run_live(const service_options& options);

}  // namespace dhcpident
