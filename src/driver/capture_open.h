// Opening the capture at its fixed path in a directory that every local user
// can write, as a program started by root.
#pragma once

#include <pcap/pcap.h>

namespace dhcpident {

// Makes sure descriptors 0, 1 and 2 are open, on /dev/null where they were
// closed, so that no file the program opens later takes the place of stdout
// or stderr. False when /dev/null cannot be opened.
bool ensure_standard_descriptors();

// Opens the capture file at path for libpcap's offline reader. Refuses, with
// the reason in error_text ("PATH: why", or libpcap's own text):
// - anything but a regular file: a FIFO or a device could hold the open or
//   the reads forever, and a directory is no capture;
// - a symbolic link that root does not own: any local user can place one in
//   /tmp, pointing at whatever file root can read. A root-owned link is
//   followed, as the kernel's protected_symlinks does in a sticky directory.
// The open never blocks. error_text holds PCAP_ERRBUF_SIZE bytes.
pcap_t* open_capture(const char* path, char* error_text);

}  // namespace dhcpident
