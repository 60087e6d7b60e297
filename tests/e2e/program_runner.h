// Runs the real program as root in a private mount namespace with its own
// tmpfs on /tmp, so the fixed capture path never touches the machine's /tmp.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// How every open error of the program begins.
inline constexpr char open_error[] = "Error: Unable to open device ";

// Where the program's stdout goes.
enum class output_to {
    pipe,         // read by the runner
    full_device,  // /dev/full: every write fails
    closed,       // descriptor 1 closed at start
    reader_gone,  // a pipe without a reader, with SIGPIPE ignored
    reader_left,  // a pipe without a reader, SIGPIPE at its default
    stuck_pipe,   // a pipe already full, whose reader never reads
};

struct program_setup {
    bool service = false;                   // dhcpident-capture, not dhcpident
    std::vector<std::string> args = {};     // argv[1..]
    std::optional<std::string> capture = {};  // bytes at /tmp/capfileall.pcap; none: no file
    mode_t capture_mode = 0644;             // owner and group stay root
    // Runs in the child as root once the capture is written, before the
    // program starts: places files in the private /tmp as another user
    // would. System calls only; false fails the run.
    bool (*arrange)() = nullptr;
    std::optional<uid_t> run_as = {};       // start unprivileged
    bool without_setuid_capability = false; // root that cannot change its uid
    std::optional<std::string> passwd = {};  // replaces /etc/passwd (and files-only lookup)
    output_to out = output_to::pipe;
    bool stuck_stderr = false;              // stderr a stuck_pipe too
    int time_limit_seconds = 120;           // then the program is killed
};

struct program_result {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or 128 + signal when killed
};

// A started program; stdout and stderr are read as they come.
class running_program {
public:
    explicit running_program(const program_setup& setup);
    ~running_program();
    running_program(const running_program&) = delete;
    running_program& operator=(const running_program&) = delete;

    // Waits until the program runs and has its shutdown handlers in place,
    // as far as /proc tells (under an emulator it may tell too early).
    void wait_until_started();

    // Runs the program in steps of about half a millisecond, stopped (SIGSTOP)
    // between them, until ready(pass, position, out) holds while it is
    // stopped: pass counts the opens of the capture seen so far, position is
    // the capture's read offset, or -1 once the pass has closed it, out is
    // stdout so far. Leaves the program stopped there, so that a signal sent
    // now arrives at that point however loaded the machine is. Without
    // read_output, stdout is left unread, so that a program writing more
    // than a pipe holds blocks there. False when the program ended first.
    using progress_test = bool (*)(int pass, long long position, const std::string& out,
                                   const void* context);
    bool pause_when(progress_test ready, const void* context, bool read_output = true);
    void resume();

    // Waits, reading nothing of it, until the program sits in a write to its
    // stdout that the kernel holds (a pipe nobody reads), as /proc tells.
    // False when it ended first.
    bool wait_until_blocked_writing();

    // The anonymous memory (heap, stack) the program holds resident now, in
    // KiB; under an emulator, the emulator's with it.
    long anonymous_kib() const;

    void send(int signal_number);
    pid_t pid() const { return pid_; }
    program_result finish();

private:
    bool pump(int timeout_ms = -1);  // one read from whichever stream is ready; false at end
    bool stop();  // false when the program has ended instead
    std::optional<long long> capture_position() const;

    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    int exec_fd_ = -1;  // closes when the child has exec'd the program
    bool reaped_ = false;
    std::chrono::steady_clock::time_point deadline_;
    program_result result_;
};

program_result run_program(const program_setup& setup);

// The program the suite runs, as DHCPIDENT_TEST_TARGET says: "host" (or
// unset), the one built beside it; "ARCH.device" or "ARCH.static", the router
// programs of the device build the suite was configured with, run by the
// emulator, the first in the router userland as its root (the emulator's
// -L), the second with none.
struct target_program {
    std::string path;
    std::string service_path;  // its dhcpident-capture
    std::vector<std::string> emulator;
    std::string root;
};
const target_program& program_under_test();

// True when the program runs under an emulator, many times slower.
inline bool emulated() { return !program_under_test().emulator.empty(); }

// Empty when this machine lets the tests run the program as root in a mount
// namespace; otherwise why not.
std::string end_to_end_unavailable();

}  // namespace e2e
