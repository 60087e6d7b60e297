#include "base/diagnostics.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace dhcpident {
namespace {

// How stderr is written once no line may wait for it.
enum class writing : unsigned char {
    waiting = 0,  // stdio's way, waiting as long as stderr does: the start
    at_once,      // a descriptor of our own that never waits (O_NONBLOCK)
    when_free,    // what we were given (a socket: its flags are shared and
                  // it cannot be opened anew), written only when poll says
                  // it has room, a piece no larger than a pipe or a
                  // socket's free half takes whole
};

constexpr int stderr_fd = 2;
constexpr std::size_t longest_line = 256;  // a longer one is cut, its line break kept

// Zero at start, with no constructor: a dynamic one would cost the router
// programs a RELRO page.
struct pending_lines {
    writing how;
    std::size_t used;
    unsigned lost;
    char bytes[4096];
} pending;

// One write of the pending bytes that never waits: what it wrote, or -1.
ssize_t write_some() {
    std::size_t count = pending.used;
    if (pending.how == writing::when_free) {
        pollfd room{stderr_fd, POLLOUT, 0};
        const timespec now{0, 0};
        if (ppoll(&room, 1, &now, nullptr) != 1 || (room.revents & POLLOUT) == 0) {
            errno = EAGAIN;
            return -1;
        }
        if (count > PIPE_BUF) count = PIPE_BUF;
    }
    return write(stderr_fd, pending.bytes, count);
}

bool add_line(const char* line, std::size_t length) {
    if (pending.used + length > sizeof pending.bytes) return false;
    std::memcpy(pending.bytes + pending.used, line, length);
    pending.used += length;
    return true;
}

// The writer that never waits, once never_wait_for_diagnostics() chose it;
// null: stdio's. A program that never chooses it links none of it.
void (*never_waiting)(const char* format, std::va_list arguments);

void say_without_waiting(const char* format, std::va_list arguments) {
    char line[longest_line];
    const int length = std::vsnprintf(line, sizeof line, format, arguments);
    if (length < 0) return;
    std::size_t size = static_cast<std::size_t>(length);
    if (size >= sizeof line) {
        size = sizeof line - 1;
        line[size - 1] = '\n';
    }
    flush_diagnostics();
    if (!add_line(line, size)) ++pending.lost;
    flush_diagnostics();
}

}  // namespace

void say(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    if (never_waiting != nullptr) {
        never_waiting(format, arguments);
    } else {
        std::vfprintf(stderr, format, arguments);
    }
    va_end(arguments);
}

void never_wait_for_diagnostics() {
    struct stat status;
    never_waiting = say_without_waiting;
    pending.how = writing::at_once;
    if (fstat(stderr_fd, &status) != 0) return;
    if (S_ISSOCK(status.st_mode)) {
        pending.how = writing::when_free;
    } else if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) {
        // A pipe or a terminal of our own that never waits: opened anew, as
        // the flags of the one we were given are shared with whoever gave
        // it (a shell's terminal, procd's log pipe) and stay as they are.
        char path[32];
        std::snprintf(path, sizeof path, "/proc/self/fd/%d", stderr_fd);
        const int own = open(path, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        // Put in stderr's place: the lowest free descriptor from 2 on, once
        // 2 is closed, is 2 (0 and 1 are open).
        if (own >= 0 && close(stderr_fd) == 0 && fcntl(own, F_DUPFD, stderr_fd) != stderr_fd) {
            pending.how = writing::when_free;
        } else if (own < 0) {
            pending.how = writing::when_free;
        }
        if (own >= 0) close(own);
    }
    // A regular file takes a line without waiting on anyone.
}

bool flush_diagnostics() {
    while (pending.used != 0) {
        const ssize_t written = write_some();
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // stderr is gone for good (no reader, closed): nowhere to say it.
            pending.used = 0;
            return true;
        }
        if (written <= 0) return false;
        const auto done = static_cast<std::size_t>(written);
        std::memmove(pending.bytes, pending.bytes + done, pending.used - done);
        pending.used -= done;
        if (pending.used == 0 && pending.lost != 0) {
            char line[longest_line];
            const int length = std::snprintf(
                line, sizeof line, "Warning: %u lines of diagnostics lost: stderr was not read\n",
                pending.lost);
            pending.lost = 0;
            add_line(line, static_cast<std::size_t>(length));
        }
    }
    return true;
}

int diagnostics_waiting_fd() { return pending.used != 0 ? stderr_fd : -1; }

void forget_pending_diagnostics() {
    pending.used = 0;
    pending.lost = 0;
}

}  // namespace dhcpident
