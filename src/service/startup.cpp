#include "service/startup.h"

#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/account.h"
#include "service/capture_file.h"

namespace dhcpident {

bool publish_as_root(const char* path, frame_store& store) {
    char name[PATH_MAX];
    const int fd = create_beside(path, name, unprivileged_id);
    if (fd < 0) {
        std::fprintf(stderr, "Error: Unable to write %s: %s\n", path, std::strerror(errno));
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        // The child says what failed in it, with the reason: the parent
        // only sees that it failed.
        if (!drop_to_unprivileged()) {
            std::fprintf(stderr, "Error: Unable to drop privileges: %s\n", std::strerror(errno));
            _exit(1);
        }
        load_earlier_frames(path, store);
        const bool written = write_capture(fd, store) && close(fd) == 0;
        if (!written) std::fprintf(stderr, "Error: Unable to write %s: %s\n", path, std::strerror(errno));
        _exit(written ? 0 : 1);
    }
    const int fork_error = errno;
    close(fd);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (rename(name, path) == 0) return true;
        std::fprintf(stderr, "Error: Unable to write %s: %s\n", path, std::strerror(errno));
    } else if (child < 0) {
        std::fprintf(stderr, "Error: Unable to start as user %u: %s\n", unprivileged_id,
                     std::strerror(fork_error));
    } else if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "Error: Unable to start as user %u: killed by signal %d\n",
                     unprivileged_id, WTERMSIG(status));
    }
    unlink(name);
    return false;
}

}  // namespace dhcpident
