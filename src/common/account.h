// The unprivileged account both programs run as once they have opened
// what needs root, and the ways each gives up root.
#pragma once

namespace dhcpident {

// nobody: user 65534, and group 65534 (nogroup), on OpenWrt and Debian.
// The reader looks the account up by its name, as a program for any
// system would; the capture service takes the number, since it creates
// its files for that account before it runs as it, and reads back only
// files that account (or root) owns.
inline constexpr char unprivileged_account[] = "nobody";
inline constexpr unsigned unprivileged_id = 65534;

// The reader's drop, before each open of the capture: the user id only,
// to nobody's, so that a capture readable by root's group stays readable.
// Writes "Warning: Unable to drop privileges!" when the account is
// missing, is root, or the change is refused; the run goes on.
void drop_user_to_nobody();

// The capture service's drop, from root for good: user and group ids
// unprivileged_id, no supplementary groups, no capabilities (the bounding
// set included), and no new privileges through any program it could run.
// False, with errno, when any step failed; the process must then not go
// on.
bool drop_to_unprivileged();

}  // namespace dhcpident
