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

// Reads the frames of the earlier file at path into the store, as earlier
// ones: from fd when it is open already (it is then closed), else opened
// under the service's rules (a regular file owned by root or by the
// unprivileged account, no link followed). True when there is none, or when
// it is a capture of the store's link type (a warning says so when it is
// damaged: the frames before the damage are read). False, with the error
// written, when there is one that cannot be read: it must then be left as
// it is, never replaced.
bool load_earlier_frames(const char* path, int fd, frame_store& store);

// "Error: Unable to write PATH: " and errno's reason.
void say_unable_to_write(const char* path);

// "Error: Unable to read earlier clients from PATH: WHY; it is left as it
// is".
void refuse_earlier(const char* path, const char* why);

// The directory path lies in, into directory (PATH_MAX bytes): "." for a
// bare name. Returns path's last component.
const char* split_path(const char* path, char* directory);

// Removes the new files an earlier run left beside path, killed while it
// rewrote the file: regular files named as create_beside names them and
// owned by the effective user; nothing else. A warning counts them.
void remove_leftovers(const char* path);

}  // namespace dhcpident
