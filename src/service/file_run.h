// dhcpident-capture -r: the frames of a capture file, kept and written once.
#pragma once

#include "service/command_line.h"

namespace dhcpident {

// Reads options.input, writes options.output; needs no root and changes
// no privileges. Returns the exit status.
int run_from_file(const service_options& options);

}  // namespace dhcpident
