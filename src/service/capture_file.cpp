#include "service/capture_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diagnostics.h"
#include "common/capture_open.h"

namespace dhcpident {
namespace {

// A classic pcap file header: the magic number in the writer's byte order
// (a reader on any machine tells the order from it), version 2.4, no time
// zone correction or accuracy, the snap length and the link type.
struct file_header {
    std::uint32_t magic;
    std::uint16_t version_major;
    std::uint16_t version_minor;
    std::int32_t thiszone;
    std::uint32_t sigfigs;
    std::uint32_t snaplen;
    std::uint32_t linktype;
};
constexpr std::uint32_t microsecond_magic = 0xa1b2c3d4;

// Writes go through a buffer of this size: one write for many frames.
constexpr std::size_t write_buffer_bytes = 16 << 10;

struct buffered_file {
    int fd;
    std::size_t used;
    unsigned char bytes[write_buffer_bytes];
};

bool write_all(int fd, const unsigned char* bytes, std::size_t count) {
    while (count != 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

bool flush(buffered_file& out) {
    const bool written = write_all(out.fd, out.bytes, out.used);
    out.used = 0;
    return written;
}

// A view's bytes, through the buffer, a piece at a time.
bool put(buffered_file& out, byte_view bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        if (out.used == sizeof out.bytes && !flush(out)) return false;
        const std::size_t room = sizeof out.bytes - out.used;
        const std::size_t piece = bytes.size() - at < room ? bytes.size() - at : room;
        bytes.copy_to(at, piece, out.bytes + out.used);
        out.used += piece;
        at += piece;
    }
    return true;
}

// A file's header names its link type by the LINKTYPE_ value, which for a
// few types is not the DLT_ value libpcap gives on Linux: raw IP is DLT 12,
// LINKTYPE 101 (libpcap's writer maps them the same way).
std::uint32_t file_link_type(int dlt) {
    switch (dlt) {
    case 11: return 100;  // ATM RFC 1483
    case 12: return 101;  // raw IP
    case 15: return 102;  // BSD/OS SLIP
    case 16: return 103;  // BSD/OS PPP
    case 19: return 106;  // Linux ATM Classical IP
    default: return static_cast<std::uint32_t>(dlt);
    }
}

// Whether name is one of path's new files, as create_beside names them:
// its last component, a dot, and six letters or digits.
bool is_new_file_name(const char* name, const char* base, std::size_t base_length) {
    if (std::strncmp(name, base, base_length) != 0 || name[base_length] != '.' ||
        std::strlen(name) != base_length + 7) {
        return false;
    }
    for (const char* c = name + base_length + 1; *c != '\0'; ++c) {
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z'))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool write_capture(int fd, const frame_store& store) {
    static buffered_file out;
    out.fd = fd;
    out.used = 0;
    const file_header header{microsecond_magic, 2, 4, 0, 0, store.snaplen,
                             file_link_type(store.link_type)};
    if (!put(out, byte_view(reinterpret_cast<const std::uint8_t*>(&header), sizeof header))) {
        return false;
    }
    byte_view record;
    for (std::uint32_t i = 0; i < client_count(*store.table); ++i) {
        if (stored_request_frame(*store.table, i, record) && !put(out, record)) return false;
    }
    return flush(out);
}

int create_beside(const char* path, char* name, uid_t owner) {
    if (std::snprintf(name, PATH_MAX, "%s.XXXXXX", path) >= PATH_MAX) {
        errno = ENAMETOOLONG;
        return -1;
    }
    // Created exclusively, under a name no one can guess in advance: nothing
    // placed in the directory beforehand is opened or followed.
    const int fd = mkostemp(name, O_CLOEXEC);
    if (fd < 0) return -1;
    // 0644 whatever the umask: the reports read it as another user.
    if (fchmod(fd, 0644) != 0 ||
        (owner != static_cast<uid_t>(-1) && fchown(fd, owner, static_cast<gid_t>(owner)) != 0)) {
        const int why = errno;
        close(fd);
        unlink(name);
        errno = why;
        return -1;
    }
    return fd;
}

bool publish_capture(const char* path, const frame_store& store) {
    char name[PATH_MAX];
    const int fd = create_beside(path, name, static_cast<uid_t>(-1));
    if (fd < 0) return false;
    bool written = write_capture(fd, store);
    int why = errno;
    // A close can report what a write could not (a full file system).
    if (close(fd) != 0 && written) {
        written = false;
        why = errno;
    }
    if (written && rename(name, path) == 0) return true;
    if (written) why = errno;
    unlink(name);
    errno = why;
    return false;
}

void say_unable_to_write(const char* path) {
    say("Error: Unable to write %s: %s\n", path, std::strerror(errno));
}

void refuse_earlier(const char* path, const char* why) {
    say("Error: Unable to read earlier clients from %s: %s; it is left as it is\n", path, why);
}

bool load_earlier_frames(const char* path, int fd, frame_store& store) {
    char why[PCAP_ERRBUF_SIZE] = "";
    if (fd < 0 && (fd = open_capture_file(path, service_open_rules, why)) < 0) {
        if (errno == ENOENT) return true;
        refuse_earlier(path, why);
        return false;
    }
    pcap_t* capture = read_capture(fd, why);
    if (capture != nullptr && pcap_datalink(capture) != store.link_type) {
        std::snprintf(why, sizeof why, "of link type %d, not %d", pcap_datalink(capture),
                      store.link_type);
        pcap_close(capture);
        capture = nullptr;
    }
    if (capture == nullptr) {
        refuse_earlier(path, why);
        return false;
    }
    if (!read_frames(capture, store)) {
        say("Warning: Unable to read all of %s: %s\n", path, pcap_geterr(capture));
    }
    pcap_close(capture);
    return true;
}

const char* split_path(const char* path, char* directory) {
    const char* slash = nullptr;
    for (const char* c = path; *c != '\0'; ++c) {
        if (*c == '/') slash = c;
    }
    std::snprintf(directory, PATH_MAX, "%.*s",
                  slash != nullptr ? static_cast<int>(slash == path ? 1 : slash - path) : 1,
                  slash != nullptr ? path : ".");
    return slash != nullptr ? slash + 1 : path;
}

void remove_leftovers(const char* path) {
    char directory[PATH_MAX];
    const char* base = split_path(path, directory);
    DIR* entries = opendir(directory);
    if (entries == nullptr) return;
    const std::size_t base_length = std::strlen(base);
    unsigned removed = 0;
    while (const dirent* entry = readdir(entries)) {
        struct stat status;
        // Not followed, and only the process's own regular files: what the
        // sticky directory lets it remove anyway.
        if (is_new_file_name(entry->d_name, base, base_length) &&
            fstatat(dirfd(entries), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
            unlinkat(dirfd(entries), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    closedir(entries);
    if (removed != 0) {
        say("Warning: Removed %u unfinished files an earlier run left beside %s\n", removed, path);
    }
}

}  // namespace dhcpident
