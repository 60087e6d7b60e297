// The capture service's file: the kept frames as a classic pcap file,
// published whole by a rename, and read back, as the earlier clients of a
// restart or as the frames of a capture to shrink.
#pragma once

#include <pcap/pcap.h>
#include <sys/types.h>

#include <cstdint>

#include "dhcp/client_table.h"
#include "dhcp/kept_frames.h"

namespace dhcpident {

// A kept capture: its table, its link type, and the snap length its file
// header gives (at least every kept frame's captured length, so that a
// reader cuts none).
struct kept_capture {
    client_table* table;
    int link_type;
    std::uint16_t link_header_len;
    std::uint32_t snaplen;
    keep_counts counts;
};

// The pcap handler that keeps frames: user is the kept_capture.
void keep_captured_frame(u_char* user, const pcap_pkthdr* header, const u_char* bytes);

// Hands every frame of capture to keep_frame. False when a read failed
// before the end (libpcap's text in pcap_geterr): the frames before it are
// kept, as the reports read them.
bool read_frames(pcap_t* capture, kept_capture& kept);

// Writes kept as a classic pcap file to fd: the file header, then every
// kept frame, in the order of first requests. False, with errno, when a
// write failed.
bool write_kept_capture(int fd, const kept_capture& kept);

// A new file for the output at path: created exclusively beside it (the
// same directory, so that a rename replaces path), mode 0644 and, when
// owner is not -1, owned by owner (uid and gid). Its name goes to name
// (PATH_MAX bytes). -1, with errno, when it cannot be made.
int create_beside(const char* path, char* name, uid_t owner);

// Writes kept to a new file beside path and renames it over path: a reader
// sees the old file or the new one, whole, and a link at path is replaced,
// its target untouched. False, with errno, when it could not be written or
// renamed; path is then as it was, and the new file is gone.
bool publish_capture(const char* path, const kept_capture& kept);

// Reads the frames the file at path holds into kept, as earlier ones: when
// it is a regular file (not a link) owned by root or by the effective user,
// a capture of kept's link type. When there is none, nothing happens; when
// one cannot be used, it is left alone and a warning says why.
void load_earlier_frames(const char* path, kept_capture& kept);

}  // namespace dhcpident
