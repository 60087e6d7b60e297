#include "service/startup.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "common/account.h"
#include "common/capture_open.h"
#include "dhcp/siphash.h"
#include "service/capture_file.h"

namespace dhcpident {
namespace {

// Where the locks are: a directory only root may write (on OpenWrt
// /var/run is /tmp/run, made by root at boot), so that no other user can
// place, hold or remove one.
constexpr char lock_directory[] = "/var/run";

// The lock of the output at path: named by its directory, as the file
// system knows it (device and inode: the same output however its path is
// written), and its last component, hashed into a name of fixed length.
bool lock_name(const char* path, char* name) {
    char directory[PATH_MAX];
    const char* base = split_path(path, directory);
    struct stat status;
    if (fstatat(AT_FDCWD, directory, &status, 0) != 0) return false;
    std::uint8_t key[16 + NAME_MAX];
    const std::uint64_t where[2] = {static_cast<std::uint64_t>(status.st_dev),
                                    static_cast<std::uint64_t>(status.st_ino)};
    std::memcpy(key, where, sizeof where);
    const std::size_t base_length = std::strlen(base) < NAME_MAX ? std::strlen(base) : NAME_MAX;
    std::memcpy(key + sizeof where, base, base_length);
    const std::uint64_t hash =
        siphash<1, 3>(0x6468637069646e74u, 0x2d63617074757265u, byte_view(key, sizeof where + base_length));
    std::snprintf(name, PATH_MAX, "%s/dhcpident-capture.%016llx.lock", lock_directory,
                  static_cast<unsigned long long>(hash));
    return true;
}

}  // namespace

int lock_output(const char* path) {
    char name[PATH_MAX];
    int fd = lock_name(path, name) ? open(name, O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644)
                                   : -1;
    // Root's own regular file only: one that another user placed there,
    // were the directory ever writable, could be held by them for ever.
    struct stat status;
    if (fd >= 0 && (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != 0)) {
        close(fd);
        fd = -1;
        errno = EPERM;
    }
    if (fd < 0) {
        say("Error: Unable to lock %s: %s\n", path, std::strerror(errno));
        return -1;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int why = errno;
        // "PID PATH" of the one that holds it: its digits, if it wrote them.
        char pid[16] = "";
        const ssize_t got = why == EWOULDBLOCK ? read(fd, pid, sizeof pid - 1) : -1;
        std::size_t digits = 0;
        while (static_cast<ssize_t>(digits) < got && pid[digits] >= '0' && pid[digits] <= '9') ++digits;
        pid[digits] = '\0';
        if (why != EWOULDBLOCK) {
            say("Error: Unable to lock %s: %s\n", path, std::strerror(why));
        } else {
            say("Error: %s is kept by another dhcpident-capture (pid %s)\n", path,
                digits != 0 ? pid : "unknown");
        }
        close(fd);
        return -1;
    }
    // Its pid, and what it keeps, for whoever looks: written from the
    // start, where the open left the offset. Without it, a second start
    // only names no pid.
    char holder[32 + PATH_MAX];
    const int length =
        std::snprintf(holder, sizeof holder, "%ld %s\n", static_cast<long>(getpid()), path);
    if (ftruncate(fd, 0) == 0) (void)!write(fd, holder, static_cast<std::size_t>(length));
    return fd;
}

bool publish_as_root(const char* path, frame_store& store) {
    char why[PCAP_ERRBUF_SIZE] = "";
    const int earlier = open_capture_file(path, service_open_rules, why);
    if (earlier < 0 && (errno == ELOOP || errno == EINVAL || errno == EPERM)) {
        say("Warning: Replacing %s: %s\n", path, why);
    } else if (earlier < 0 && errno != ENOENT) {
        refuse_earlier(path, why);
        return false;
    }
    char name[PATH_MAX];
    const int fd = create_beside(path, name, unprivileged_id);
    if (fd < 0) {
        say_unable_to_write(path);
        if (earlier >= 0) close(earlier);
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        // The child says what failed in it, with the reason: the parent
        // only sees that it failed. Lines pending in the parent are the
        // parent's to write.
        forget_pending_diagnostics();
        if (!drop_to_unprivileged()) {
            say("Error: Unable to drop privileges: %s\n", std::strerror(errno));
            _exit(1);
        }
        if (earlier >= 0 && !load_earlier_frames(path, earlier, store)) _exit(1);
        tell_losses(store, 0, true);
        const bool written = write_capture(fd, store) && close(fd) == 0;
        if (!written) say_unable_to_write(path);
        flush_diagnostics();
        _exit(written ? 0 : 1);
    }
    const int fork_error = errno;
    close(fd);
    if (earlier >= 0) close(earlier);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (rename(name, path) == 0) return true;
        say_unable_to_write(path);
    } else if (child < 0) {
        say("Error: Unable to start as user %u: %s\n", unprivileged_id, std::strerror(fork_error));
    } else if (WIFSIGNALED(status)) {
        say("Error: Unable to start as user %u: killed by signal %d\n", unprivileged_id,
            WTERMSIG(status));
    }
    unlink(name);
    return false;
}

}  // namespace dhcpident
