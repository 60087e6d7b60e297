// Opening a capture at a path in a directory that every local user can
// write, as a program started by root: the reader at its fixed path, the
// capture service at its output, which it reads back on a restart. One
// rule for both; where they differ, the difference is a parameter.
#pragma once

#include <pcap/pcap.h>

namespace dhcpident {

inline constexpr const char capture_path[] = "/tmp/capfileall.pcap";

// Either program refuses anything but a regular file: a FIFO or a device
// could hold the open or the reads forever, and a directory is no capture.
// The open never blocks and never makes a terminal the controlling one.
struct open_rules {
    // A symbolic link that root owns is followed, as the kernel's
    // protected_symlinks does in a sticky directory (the reader: root's own
    // link may point at the capture). Without it no link is followed at all
    // (the service: it replaces a link at its output, and never reads
    // through one).
    bool follow_root_links;
    // Only a file owned by root or by the unprivileged account is taken:
    // the service's own earlier file, or one root left. Another user's file
    // is none of its own. The reader takes a file of any owner: its content
    // decides the report, whoever wrote it.
    bool own_files_only;
};
inline constexpr open_rules reader_open_rules{true, false};
inline constexpr open_rules service_open_rules{false, true};

// The file at path opened for reading under rules: its descriptor, or -1
// with why in error_text (PCAP_ERRBUF_SIZE bytes) and errno set: the
// system's reason, or for a refusal by a rule ELOOP (a link), EINVAL (not
// a regular file) or EPERM (another user's file).
int open_capture_file(const char* path, open_rules rules, char* error_text);

// libpcap's offline reader over fd, which it owns from here (pcap_close
// closes it, and so does a failure). Null with libpcap's own text in
// error_text when the file is not a capture it reads.
pcap_t* read_capture(int fd, char* error_text);

// Both, for path: error_text is then "PATH: why" when the file was not
// opened, libpcap's own text when it is no capture libpcap reads.
pcap_t* open_capture(const char* path, open_rules rules, char* error_text);

}  // namespace dhcpident
