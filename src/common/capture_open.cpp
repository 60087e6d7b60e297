#include "common/capture_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/account.h"

namespace dhcpident {
namespace {

const char* kind_of(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISDIR(mode)) return "a directory";
    return "an unknown kind of file";
}

}  // namespace

int open_capture_file(const char* path, open_rules rules, char* error_text) {
    // Writes why, closes what was opened so far and sets errno.
    auto refuse = [&](int fd, int why_errno, const char* why, const char* kind = nullptr) {
        std::snprintf(error_text, PCAP_ERRBUF_SIZE, "%s%s%s", kind != nullptr ? kind : "",
                      kind != nullptr ? ", " : "", why);
        if (fd >= 0) close(fd);
        errno = why_errno;
        return -1;
    };
    struct stat status;
    // Only a link that may be followed is looked at before the open; any
    // other is refused by the open itself, race or not.
    const bool is_link =
        rules.follow_root_links && fstatat(AT_FDCWD, path, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(status.st_mode);
    if (is_link && status.st_uid != 0) return refuse(-1, ELOOP, "a symbolic link not owned by root");
    // O_NONBLOCK: a FIFO without a writer, or a device, cannot hold the open.
    // O_NOFOLLOW: a link put in place since the look above is refused, not
    // followed. O_NOCTTY: a terminal never becomes the controlling one.
    const int fd =
        open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (is_link ? 0 : O_NOFOLLOW));
    if (fd < 0 && errno == ELOOP && !rules.follow_root_links) {
        return refuse(-1, ELOOP, "a symbolic link, not followed");
    }
    if (fd < 0) return refuse(-1, errno, std::strerror(errno));
    if (fstat(fd, &status) != 0) return refuse(fd, errno, std::strerror(errno));
    if (!S_ISREG(status.st_mode)) {
        return refuse(fd, EINVAL, "not a regular file", kind_of(status.st_mode));
    }
    if (rules.own_files_only && status.st_uid != 0 && status.st_uid != unprivileged_id) {
        char why[64];
        std::snprintf(why, sizeof why, "owned by user %u, neither root nor %u",
                      static_cast<unsigned>(status.st_uid), unprivileged_id);
        return refuse(fd, EPERM, why);
    }
    return fd;
}

pcap_t* read_capture(int fd, char* error_text) {
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        std::snprintf(error_text, PCAP_ERRBUF_SIZE, "%s", std::strerror(errno));
        close(fd);
        return nullptr;
    }
    // libpcap owns the file from here: pcap_close closes it.
    pcap_t* capture = pcap_fopen_offline(file, error_text);
    if (capture == nullptr) std::fclose(file);
    return capture;
}

pcap_t* open_capture(const char* path, open_rules rules, char* error_text) {
    char why[PCAP_ERRBUF_SIZE];
    const int fd = open_capture_file(path, rules, why);
    if (fd >= 0) return read_capture(fd, error_text);
    std::snprintf(error_text, PCAP_ERRBUF_SIZE, "%s: %.200s", path, why);
    return nullptr;
}

}  // namespace dhcpident
