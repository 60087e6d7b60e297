#include "program_runner.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern "C" char** environ;

namespace e2e {
namespace {

// Where the target root appears inside the program's private /tmp.
constexpr char target_root_dir[] = "/tmp/.target-root";

// In the child, between fork and exec: system calls only.
[[noreturn]] void fail(const char* what) {
    const char* reason = std::strerror(errno);
    (void)!write(2, "runner: ", 8);
    (void)!write(2, what, std::strlen(what));
    (void)!write(2, ": ", 2);
    (void)!write(2, reason, std::strlen(reason));
    (void)!write(2, "\n", 1);
    _exit(127);
}

void write_file(const char* path, const std::string& data, mode_t mode) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) fail(path);
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n <= 0) fail("write");
        done += static_cast<std::size_t>(n);
    }
    if (fchmod(fd, mode) != 0) fail("fchmod");
    close(fd);
}

void bind_file(const char* source, const char* target) {
    if (mount(source, target, nullptr, MS_BIND, nullptr) != 0) fail(target);
}

// A pipe already full on fd, whose reading end stays open in the program
// itself, where nothing reads it: filled without blocking, then blocking
// again.
void stuck_pipe_on(int fd) {
    int stuck[2];
    if (pipe(stuck) != 0 || fcntl(stuck[1], F_SETFL, O_NONBLOCK) != 0) fail("pipe");
    static const char filler[4096] = {};
    while (write(stuck[1], filler, sizeof filler) > 0) {
    }
    if (fcntl(stuck[1], F_SETFL, 0) != 0 || dup2(stuck[1], fd) < 0) fail("stuck pipe");
    close(stuck[1]);
}

[[noreturn]] void child(const program_setup& setup, const char* exec_path, char* const* argv,
                        int out_fd, int err_fd, const char* target_root) {
    // Output first, so that the result shows where a setup step failed.
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd < 0 || dup2(null_fd, 0) < 0 || dup2(err_fd, 2) < 0) fail("dup2");
    switch (setup.out) {
    case output_to::pipe:
        if (dup2(out_fd, 1) < 0) fail("dup2");
        break;
    case output_to::full_device: {
        const int full = open("/dev/full", O_WRONLY);
        if (full < 0 || dup2(full, 1) < 0) fail("/dev/full");
        close(full);
        break;
    }
    case output_to::closed:
        // Closed only just before the exec: a descriptor the runner opens
        // meanwhile must not take its place.
        if (dup2(out_fd, 1) < 0) fail("dup2");
        break;
    case output_to::stuck_pipe:
        stuck_pipe_on(1);
        break;
    case output_to::reader_gone:
        // The runner closed the reading end before the fork.
        if (dup2(out_fd, 1) < 0) fail("dup2");
        signal(SIGPIPE, SIG_IGN);  // an ignored signal stays ignored across exec
        break;
    case output_to::reader_left:
        if (dup2(out_fd, 1) < 0) fail("dup2");
        signal(SIGPIPE, SIG_DFL);  // as a shell leaves it for a pipeline
        break;
    }
    close(null_fd);
    if (unshare(CLONE_NEWNS) != 0) fail("unshare");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("make private");
    // The target root lives in the build tree, which may lie under the /tmp
    // about to be covered, or in a directory the unprivileged runs cannot
    // enter. It is bound at a path open to all inside the new /tmp; opened
    // here, since a bind mount takes its source from the caller's own
    // namespace.
    const int root = target_root[0] != '\0' ? open(target_root, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    if (target_root[0] != '\0' && root < 0) fail(target_root);
    if (mount("dhcpident-test", "/tmp", "tmpfs", 0, "mode=1777") != 0) fail("mount tmpfs");
    if (root >= 0) {
        char root_path[64];
        std::snprintf(root_path, sizeof root_path, "/proc/self/fd/%d", root);
        if (mkdir(target_root_dir, 0755) != 0) fail(target_root_dir);
        bind_file(root_path, target_root_dir);
    }
    if (setup.capture) write_file("/tmp/capfileall.pcap", *setup.capture, setup.capture_mode);
    if (setup.arrange != nullptr && !setup.arrange()) fail("arrange");
    if (setup.passwd) {
        write_file("/tmp/.passwd", *setup.passwd, 0644);
        write_file("/tmp/.nsswitch", "passwd: files\ngroup: files\n", 0644);
        bind_file("/tmp/.passwd", "/etc/passwd");
        bind_file("/tmp/.nsswitch", "/etc/nsswitch.conf");
    }
    if (setup.service && !setup.run_as) {
        // The capture service is started with supplementary groups and
        // inheritable capabilities, as a shell of root's may have them, so
        // that its drop of both has something to drop.
        const gid_t groups[] = {4, 27};
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
        if (syscall(SYS_capget, &header, caps) != 0) fail("capget");
        caps[0].inheritable = 1u << CAP_NET_RAW | 1u << CAP_CHOWN;
        if (setgroups(2, groups) != 0 || syscall(SYS_capset, &header, caps) != 0) fail("groups, caps");
    }
    if (setup.without_setuid_capability && prctl(PR_CAPBSET_DROP, CAP_SETUID, 0, 0, 0) != 0) {
        fail("drop CAP_SETUID");
    }
    if (setup.run_as && setresuid(*setup.run_as, *setup.run_as, *setup.run_as) != 0) {
        fail("setresuid");
    }
    if (setup.out == output_to::closed) close(1);
    if (setup.stuck_stderr) stuck_pipe_on(2);  // last: a failure above still shows
    // The program is run from a descriptor opened before /tmp was covered,
    // since it may itself live under the machine's /tmp.
    execve(exec_path, argv, environ);
    fail("execve");
}

}  // namespace

const target_program& program_under_test() {
    static const target_program target = [] {
        const char* which = std::getenv("DHCPIDENT_TEST_TARGET");
        // The target, then (for a router program) its emulator's words.
        std::istringstream words(which != nullptr ? which : "host");
        std::string kind;
        words >> kind;
#ifdef DHCPIDENT_DEVICE_DIR
        // "ARCH.device" or "ARCH.static", run by the emulator and CPU the
        // words behind it name (for MIPS the 24Kc, which has no FPU, as the
        // routers have none: an FPU instruction is SIGILL there too).
        const std::size_t dot = kind.rfind('.');
        std::vector<std::string> emulator;
        for (std::string word; words >> word;) emulator.push_back(word);
        if (dot != std::string::npos && !emulator.empty()) {
            const std::string arch = kind.substr(0, dot), build = kind.substr(dot + 1);
            const std::string dir = std::string(DHCPIDENT_DEVICE_DIR) + "/" + arch + "/";
            if (build == "device") {
                return target_program{dir + "dhcpident.stripped", dir + "dhcpident-capture.stripped",
                                      emulator, std::string(DHCPIDENT_ROUTER_DIR) + "/" + arch + "/root"};
            }
            if (build == "static") {
                return target_program{dir + "dhcpident-static.stripped",
                                      dir + "dhcpident-capture-static.stripped", emulator, ""};
            }
        }
#endif
        if (kind != "host") throw std::runtime_error("DHCPIDENT_TEST_TARGET: no " + kind + " program built");
        return target_program{DHCPIDENT_PROGRAM, DHCPIDENT_SERVICE, {}, ""};
    }();
    return target;
}

running_program::running_program(const program_setup& setup) {
    const target_program& target = program_under_test();
    // Under an emulator the program is opened by the emulator, by its
    // descriptor's name: that descriptor stays open across the exec.
    const std::string& path = setup.service ? target.service_path : target.path;
    const int program = open(path.c_str(), O_RDONLY | (target.emulator.empty() ? O_CLOEXEC : 0));
    if (program < 0) throw std::runtime_error("open " + path);
    const std::string program_path = "/proc/self/fd/" + std::to_string(program);
    std::vector<std::string> words = target.emulator;
    if (!target.root.empty()) words.insert(words.end(), {"-L", target_root_dir});
    const std::string exec_path = words.empty() ? program_path : words[0];
    words.push_back(words.empty() ? (setup.service ? "dhcpident-capture" : "dhcpident")
                                  : program_path);
    words.insert(words.end(), setup.args.begin(), setup.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);

    int out[2], err[2], exec_done[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
        pipe2(exec_done, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    if (setup.out == output_to::reader_gone || setup.out == output_to::reader_left) {
        close(out[0]);
        out[0] = -1;
    }
    deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(setup.time_limit_seconds);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) child(setup, exec_path.c_str(), argv.data(), out[1], err[1], target.root.c_str());
    close(program);
    close(out[1]);
    close(err[1]);
    close(exec_done[1]);
    out_fd_ = out[0];
    err_fd_ = err[0];
    exec_fd_ = exec_done[0];
}

void running_program::wait_until_started() {
    char byte;
    while (read(exec_fd_, &byte, 1) < 0 && errno == EINTR) {
    }
    // The caught-signal mask in /proc: HUP, INT and TERM are bits 0, 1, 14.
    const unsigned long wanted = (1ul << (SIGHUP - 1)) | (1ul << (SIGINT - 1)) | (1ul << (SIGTERM - 1));
    const std::string status_path = "/proc/" + std::to_string(pid_) + "/status";
    for (int i = 0; i < 2000; ++i) {
        std::FILE* f = std::fopen(status_path.c_str(), "r");
        if (f == nullptr) return;
        char line[256];
        unsigned long caught = 0;
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "SigCgt: %lx", &caught) == 1) break;
        }
        std::fclose(f);
        if ((caught & wanted) == wanted) return;
        usleep(1000);
    }
}

running_program::~running_program() {
    if (exec_fd_ >= 0) close(exec_fd_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        if (!reaped_) resume();
        finish();
    }
}

bool running_program::pump(int timeout_ms) {
    pollfd fds[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    const int open_streams = (out_fd_ >= 0) + (err_fd_ >= 0);
    if (open_streams == 0) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - std::chrono::steady_clock::now());
    const int wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    const int ready = poll(fds, 2, timeout_ms >= 0 ? std::min(timeout_ms, wait_ms) : wait_ms);
    if (ready < 0) return errno == EINTR;
    if (ready == 0 && timeout_ms >= 0) return false;
    if (ready == 0) {
        // Over its time: killed, which closes its output too.
        kill(pid_, SIGKILL);
        deadline_ += std::chrono::hours(1);
        return true;
    }
    std::string* targets[2] = {&result_.out, &result_.err};
    int* fd_of[2] = {&out_fd_, &err_fd_};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].fd < 0 || fds[i].revents == 0) continue;
        char buffer[65536];
        const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
        if (n > 0) {
            targets[i]->append(buffer, static_cast<std::size_t>(n));
        } else {
            close(fds[i].fd);
            *fd_of[i] = -1;
        }
    }
    return true;
}

bool running_program::stop() {
    if (reaped_) return false;
    kill(pid_, SIGSTOP);
    int status = 0;
    while (waitpid(pid_, &status, WUNTRACED) < 0) {
        if (errno != EINTR) return false;
    }
    if (WIFSTOPPED(status)) return true;
    reaped_ = true;
    result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
}

void running_program::resume() { kill(pid_, SIGCONT); }

std::optional<long long> running_program::capture_position() const {
    const std::string proc = "/proc/" + std::to_string(pid_);
    for (int fd = 3; fd < 64; ++fd) {
        char target[256];
        const std::string link = proc + "/fd/" + std::to_string(fd);
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0 || std::string(target, static_cast<std::size_t>(n)) != "/tmp/capfileall.pcap") {
            continue;
        }
        std::FILE* info = std::fopen((proc + "/fdinfo/" + std::to_string(fd)).c_str(), "r");
        if (info == nullptr) continue;
        long long position = -1;
        if (std::fscanf(info, "pos: %lld", &position) != 1) position = -1;
        std::fclose(info);
        if (position >= 0) return position;
    }
    return std::nullopt;
}

bool running_program::pause_when(progress_test ready, const void* context, bool read_output) {
    int pass = 0;
    long long last = -1;
    while (std::chrono::steady_clock::now() < deadline_ && stop()) {
        while (read_output && pump(0)) {
        }
        if (const std::optional<long long> position = capture_position()) {
            // A new open, or the offset gone back: the next pass.
            if (last < 0 || *position < last) ++pass;
            last = *position;
            if (ready(pass, *position, result_.out, context)) return true;
        } else if (last >= 0) {
            last = -1;
            if (ready(pass, -1, result_.out, context)) return true;
        }
        resume();
        usleep(500);
    }
    return false;
}

bool running_program::wait_until_blocked_writing() {
    // "NUMBER ARG1 ...": the system call the program sits in, and its first
    // argument, the descriptor: write, or writev as musl's stdio writes.
    // Under an emulator it is the emulator's own call for the program's.
    const std::string path = "/proc/" + std::to_string(pid_) + "/syscall";
    while (std::chrono::steady_clock::now() < deadline_) {
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (f == nullptr) return false;
        long call = -1;
        unsigned long fd = 0;
        const bool read = std::fscanf(f, "%ld 0x%lx", &call, &fd) == 2;
        std::fclose(f);
        if (read && fd == 1 && (call == SYS_write || call == SYS_writev)) return true;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            reaped_ = true;
            result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return false;
        }
        usleep(1000);
    }
    return false;
}

long running_program::anonymous_kib() const {
    // smaps_rollup counts the pages themselves; VmRSS and VmHWM lag behind
    // by the kernel's batched counters, and pages of files (the libraries)
    // come and go with the page cache: anonymous memory is the heap's.
    std::FILE* f = std::fopen(("/proc/" + std::to_string(pid_) + "/smaps_rollup").c_str(), "r");
    if (f == nullptr) return -1;
    char line[256];
    long resident = -1;
    while (std::fgets(line, sizeof line, f) != nullptr && std::sscanf(line, "Anonymous: %ld", &resident) != 1) {
    }
    std::fclose(f);
    return resident;
}

void running_program::send(int signal_number) { kill(pid_, signal_number); }

program_result running_program::finish() {
    while (pump()) {
    }
    // Its streams may have closed, or never been the runner's (stuck
    // pipes), while it still runs: it is held to its time all the same.
    int status = 0;
    pid_t waited = 0;
    while (pid_ > 0 && !reaped_ && (waited = waitpid(pid_, &status, WNOHANG)) == 0) {
        if (std::chrono::steady_clock::now() >= deadline_) {
            kill(pid_, SIGKILL);
            deadline_ += std::chrono::hours(1);
        }
        usleep(1000);
    }
    if (waited == pid_) {
        result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_ = -1;
    return result_;
}

program_result run_program(const program_setup& setup) { return running_program(setup).finish(); }

std::string end_to_end_unavailable() {
    if (geteuid() != 0) return "needs root";
    program_setup probe;
    probe.args = {"00:00:00:00:00:00"};
    probe.capture = "";  // not a capture: the program must say so and fail
    const program_result r = run_program(probe);
    if (r.err.rfind(open_error, 0) == 0 && r.status == 1) return "";
    return "probe run gave status " + std::to_string(r.status) + ": " + r.err;
}

}  // namespace e2e
