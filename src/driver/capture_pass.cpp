#include "driver/capture_pass.h"

#include <pcap/pcap.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "dhcp/select.h"
#include "driver/capture_open.h"
#include "driver/capture_run.h"
#include "driver/link_type.h"
#include "driver/output.h"

namespace dhcpident {
namespace {

volatile sig_atomic_t shutdown_requested;
// The open capture, so the signal handler can stop its loop.
pcap_t* volatile active_capture;

void drop_privileges() {
    const passwd* account = getpwnam(unprivileged_account);
    // Only the user id changes: the group ids stay, so a capture readable by
    // root's group stays readable in the second pass.
    if (account == nullptr || account->pw_uid == 0 || setuid(account->pw_uid) != 0) {
        std::fputs("Warning: Unable to drop privileges!\n", stderr);
    }
}

sigset_t shutdown_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : {SIGHUP, SIGINT, SIGTERM}) sigaddset(&set, signal_number);
    return set;
}

void install_shutdown_handlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_shutdown_signal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a signal must not cut a write of the report.
    action.sa_flags = SA_RESTART;
    for (int signal_number : {SIGHUP, SIGINT, SIGTERM}) sigaction(signal_number, &action, nullptr);
}

// True when a termination signal has arrived or arrives from now on until
// the exit: from here the signals are blocked, and one that comes is held
// pending, where it is seen too.
bool shutdown_signalled_by_exit() {
    const sigset_t set = shutdown_signals();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return shutdown_requested || sigismember(&pending, SIGHUP) == 1 ||
           sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1;
}

int print_shutdown_summary() {
    flush_output();
    std::printf("\nSignal received. Shutdown.\nProcessed %u DHCP requests.\n\n",
                static_cast<unsigned>(the_run.processed_count));
    return checked_exit_status(0);
}

bool valid_target_argument(int argc, char** argv) {
    return argc >= 2 && std::strlen(argv[1]) <= target_mac_max_length;
}

}  // namespace

void on_shutdown_signal(int) {
    shutdown_requested = 1;
    // pcap_breakloop only sets a flag that the loop tests between frames.
    pcap_t* capture = active_capture;
    if (capture != nullptr) pcap_breakloop(capture);
}

namespace {

pass_outcome run_opened_capture(pcap_t* capture) {
    // Published before the flag is tested again: a signal from here on
    // breaks the loop, one before it is seen below.
    active_capture = capture;
    if (const auto length = link_header_length(pcap_datalink(capture))) {
        the_run.link_header_len = *length;
    }
    // A read error inside the file just ends the pass, as the end does.
    if (!shutdown_requested) pcap_loop(capture, -1, handle_packet, nullptr);
    active_capture = nullptr;
    pcap_close(capture);
    return shutdown_requested ? pass_outcome::interrupted : pass_outcome::completed;
}

// The program's own opener: the fixed path, opened as the unprivileged
// account (with root's groups), never as root.
pcap_t* open_fixed_capture(const void*, char* error_text) {
    drop_privileges();
    return open_capture(capture_path, error_text);
}

}  // namespace

pass_outcome run_capture_passes(capture_opener open, const void* context) {
    for (std::int32_t pass = 0; pass < 2; ++pass) {
        if (shutdown_requested) return pass_outcome::interrupted;
        the_run.pass_index = pass;
        char error_text[PCAP_ERRBUF_SIZE] = "";
        pcap_t* capture = open(context, error_text);
        if (capture == nullptr) {
            std::fprintf(stderr, "Error: Unable to open device %s\n", error_text);
            return pass_outcome::open_failed;
        }
        if (run_opened_capture(capture) == pass_outcome::interrupted) {
            return pass_outcome::interrupted;
        }
    }
    return pass_outcome::completed;
}

int run_dhcpident(int argc, char** argv) {
    // Before anything is opened: a capture opened on a closed descriptor 1
    // would receive the report.
    if (!ensure_standard_descriptors()) return 1;
    install_shutdown_handlers();
    // A longer argument is refused, not cut: a cut one could match another
    // client.
    if (!valid_target_argument(argc, argv)) {
        std::fputs("Error: expected one argument, the client's MAC address "
                   "such as aa:bb:cc:dd:ee:ff\n",
                   stderr);
        return 1;
    }
    set_target_mac(the_run, argv[1]);
    if (geteuid() != 0) {
        std::fputs("Error: You need to have root privileges\n", stderr);
        return 1;
    }
    switch (run_capture_passes(open_fixed_capture, nullptr)) {
    case pass_outcome::open_failed:
        return checked_exit_status(1);
    case pass_outcome::interrupted:
        return print_shutdown_summary();
    case pass_outcome::completed:
        break;
    }
    // A signal as the second pass ends, or before the exit, still gets its
    // summary.
    if (shutdown_signalled_by_exit()) return print_shutdown_summary();
    return checked_exit_status(0);
}

}  // namespace dhcpident
