// Descriptors 0, 1 and 2 of a program started by root, by whoever started it.
#pragma once

namespace dhcpident {

// Makes sure descriptors 0, 1 and 2 are open, on /dev/null where they were
// closed, so that no file the program opens later takes the place of stdout
// or stderr. False when /dev/null cannot be opened.
bool ensure_standard_descriptors();

}  // namespace dhcpident
