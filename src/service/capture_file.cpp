#include "service/capture_file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

}  // namespace

bool write_capture(int fd, const frame_store& store) {
    static buffered_file out;
    out.fd = fd;
    out.used = 0;
    const file_header header{microsecond_magic, 2, 4, 0, 0, store.snaplen,
                             static_cast<std::uint32_t>(store.link_type)};
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

void load_earlier_frames(const char* path, frame_store& store) {
    char why[PCAP_ERRBUF_SIZE] = "";
    const int fd = open_capture_file(path, service_open_rules, why);
    if (fd < 0 && errno == ENOENT) return;
    pcap_t* capture = fd < 0 ? nullptr : read_capture(fd, why);
    if (capture != nullptr && pcap_datalink(capture) != store.link_type) {
        std::snprintf(why, sizeof why, "link type %d, not %d", pcap_datalink(capture),
                      store.link_type);
        pcap_close(capture);
        capture = nullptr;
    }
    if (capture == nullptr) {
        std::fprintf(stderr, "Warning: Not reading earlier clients from %s: %s\n", path, why);
        return;
    }
    if (!read_frames(capture, store)) {
        std::fprintf(stderr, "Warning: Unable to read all of %s: %s\n", path, pcap_geterr(capture));
    }
    pcap_close(capture);
}

}  // namespace dhcpident
