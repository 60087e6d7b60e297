#include "driver/capture_open.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dhcpident {
namespace {

// Only the user id changes: the group ids stay, so a capture readable by
// root's group stays readable in the second pass.
void drop_privileges() {
    const passwd* account = getpwnam(unprivileged_account);
    if (account == nullptr || account->pw_uid == 0 || setuid(account->pw_uid) != 0) {
        std::fputs("Warning: Unable to drop privileges!\n", stderr);
    }
}

const char* kind_of(mode_t mode) {
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISDIR(mode)) return "a directory";
    return "an unknown kind of file";
}

}  // namespace

pcap_t* open_capture(const char* path, char* error_text) {
    // Formats "PATH: why" and closes what was opened so far.
    auto refuse = [&](int fd, const char* why, const char* kind = nullptr) -> pcap_t* {
        if (kind != nullptr) {
            std::snprintf(error_text, PCAP_ERRBUF_SIZE, "%s: %s, %s", path, kind, why);
        } else {
            std::snprintf(error_text, PCAP_ERRBUF_SIZE, "%s: %s", path, why);
        }
        if (fd >= 0) close(fd);
        return nullptr;
    };
    struct stat status;
    const bool is_link = lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
    if (is_link && status.st_uid != 0) return refuse(-1, "a symbolic link not owned by root");
    // O_NONBLOCK: a FIFO without a writer, or a device, cannot hold the open.
    // O_NOFOLLOW: a link put in place since the look above is refused, not
    // followed. O_NOCTTY: a terminal never becomes the controlling one.
    const int fd =
        open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (is_link ? 0 : O_NOFOLLOW));
    if (fd < 0) return refuse(-1, std::strerror(errno));
    if (fstat(fd, &status) != 0) return refuse(fd, std::strerror(errno));
    if (!S_ISREG(status.st_mode)) return refuse(fd, "not a regular file", kind_of(status.st_mode));
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) return refuse(fd, std::strerror(errno));
    // libpcap owns the file from here: pcap_close closes it.
    pcap_t* capture = pcap_fopen_offline(file, error_text);
    if (capture == nullptr) std::fclose(file);
    return capture;
}

pcap_t* drop_privileges_and_open_fixed_capture(const void*, char* error_text) {
    drop_privileges();
    return open_capture(capture_path, error_text);
}

}  // namespace dhcpident
