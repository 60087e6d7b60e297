// The live service's start as root: its first file put in place, the
// earlier clients in it read by a process that runs as the unprivileged
// account, then the drop to that account for good.
#pragma once

#include "service/frame_store.h"

namespace dhcpident {

// The first file, as root: made for the unprivileged account, with the
// earlier clients read by a child that runs as that account, so that root
// reads nothing of them, then renamed over path by root, which may replace
// whatever is there (a file of root's, another user's link). From then on
// only that account and root can replace it in a sticky directory. False,
// with the error written (by the child when it failed there), when it is
// not in place.
bool publish_as_root(const char* path, frame_store& store);

}  // namespace dhcpident
