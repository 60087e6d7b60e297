// The live service's start as root: the output locked for it alone, its
// first file put in place with the earlier clients read by a process that
// runs as the unprivileged account, then the drop to that account for good.
#pragma once

#include "service/frame_store.h"

namespace dhcpident {

// One service per output: a lock file for path in a directory only root
// may write (/var/run), locked (flock) for as long as the process runs and
// holding its pid, so that no other user can place, hold or remove it. The
// descriptor, or -1 with the error written: "FILE is kept by another
// dhcpident-capture (pid N)" when one holds it.
int lock_output(const char* path);

// The first file, as root. The earlier file at path is opened by root
// (root's own, 0600, is read too), but read by a child that runs as the
// unprivileged account, so that root parses nothing of it; the child
// writes the new file, made for that account, and root renames it over
// path, replacing whatever is there that is no earlier file of the
// service's (a link, another user's file), with a warning. From then on
// only that account and root can replace it in a sticky directory. An
// earlier file that cannot be read is left as it is: false, with the
// error written (by the child when it failed there), as when the new file
// is not in place.
bool publish_as_root(const char* path, frame_store& store);

}  // namespace dhcpident
