// Opening the capture at its fixed path in a directory that every local user
// can write, as a program started by root.
#pragma once

#include <pcap/pcap.h>

namespace dhcpident {

inline constexpr const char capture_path[] = "/tmp/capfileall.pcap";
inline constexpr const char unprivileged_account[] = "nobody";

// Opens the capture file at path for libpcap's offline reader. Refuses, with
// the reason in error_text ("PATH: why", or libpcap's own text):
// - anything but a regular file: a FIFO or a device could hold the open or
//   the reads forever, and a directory is no capture;
// - a symbolic link that root does not own: any local user can place one in
//   /tmp, pointing at whatever file root can read. A root-owned link is
//   followed, as the kernel's protected_symlinks does in a sticky directory.
// The open never blocks. error_text holds PCAP_ERRBUF_SIZE bytes.
pcap_t* open_capture(const char* path, char* error_text);

// The program's capture_opener (context unused): first sets the user id to
// the unprivileged account's, warning "Unable to drop privileges!" when it
// cannot, then opens the fixed path with open_capture, so that root never
// opens it.
pcap_t* drop_privileges_and_open_fixed_capture(const void* context, char* error_text);

}  // namespace dhcpident
