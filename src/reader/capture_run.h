// The process's run record, which the passes and the signal summary share
// with the per-frame work.
#pragma once

#include "dhcp/select.h"

namespace dhcpident {

// Zero at start. Named only by the pass driver, which hands it to every
// frame, and by the signal summary.
extern capture_run the_run;

}  // namespace dhcpident
