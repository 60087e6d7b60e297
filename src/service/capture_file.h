// The capture service's file: the kept frames as a classic pcap file,
// published whole by a rename, and read back as the earlier clients of a
// restart.
#pragma once

#include <pcap/pcap.h>
#include <sys/types.h>

#include <cstdint>

#include "service/frame_store.h"

namespace dhcpident {

// Writes the store as a classic pcap file to fd: the file header, then
// every kept frame, in the order of first requests. False, with errno,
// when a write failed.
bool write_capture(int fd, const frame_store& store);

// A new file for the output at path: created exclusively beside it (the
// same directory, so that a rename replaces path), mode 0644 and, when
// owner is not -1, owned by owner (uid and gid). Its name goes to name
// (PATH_MAX bytes). -1, with errno, when it cannot be made.
int create_beside(const char* path, char* name, uid_t owner);

// Writes the store to a new file beside path and renames it over path: a
// reader sees the old file or the new one, whole, and a link at path is
// replaced, its target untouched. False, with errno, when it could not be
// written or renamed; path is then as it was, and the new file is gone.
bool publish_capture(const char* path, const frame_store& store);

// Reads the frames the file at path holds into the store, as earlier ones:
// when it is a regular file (not a link) owned by root or by the
// unprivileged account, a capture of the store's link type. When there is
// none, nothing happens; when one cannot be used, it is left alone and a
// warning says why.
void load_earlier_frames(const char* path, frame_store& store);

}  // namespace dhcpident
