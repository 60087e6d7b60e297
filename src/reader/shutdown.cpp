#include "reader/shutdown.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "base/output.h"
#include "common/signals.h"
#include "reader/capture_run.h"

namespace dhcpident {
namespace {

// The capture being read, so the handler can stop its loop.
pcap_t* volatile watched_capture;

// After a termination signal the program has this long to write the report
// in hand and the summary. A reader that takes nothing (a pipe nobody
// reads) would hold a restarted write for good.
constexpr unsigned output_deadline_seconds = 1;
constexpr char deadline_error[] =
    "Error: Unable to write the report: the reader did not take the whole output within 1 s of "
    "the signal\n";

volatile sig_atomic_t signal_received;

// The deadline has passed: the summary is lost, which is no success. The
// error line may block too, on a stderr nobody reads; a second alarm,
// which this handler does not hold off, then ends the process during it.
// An alarm that no termination signal set ends the process as it always
// would.
void on_output_deadline(int) {
    if (signal_received == 0) {
        signal(SIGALRM, SIG_DFL);
        raise(SIGALRM);
        return;
    }
    static volatile sig_atomic_t entered;
    if (entered) _exit(1);
    entered = 1;
    alarm(output_deadline_seconds);
    (void)!write(2, deadline_error, sizeof deadline_error - 1);
    _exit(1);
}

// The deadline starts with the first termination signal, however it is
// seen.
void start_deadline() {
    if (signal_received == 0) alarm(output_deadline_seconds);
    signal_received = 1;
}

}  // namespace

void install_shutdown_handlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_shutdown_signal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a signal must not cut a write of the report.
    action.sa_flags = SA_RESTART;
    for (int signal_number : termination_signals) sigaction(signal_number, &action, nullptr);
    action.sa_handler = on_output_deadline;
    action.sa_flags = SA_NODEFER;
    sigaction(SIGALRM, &action, nullptr);
}

void on_shutdown_signal(int) {
    start_deadline();
    // pcap_breakloop only sets a flag that the loop tests between frames.
    pcap_t* capture = watched_capture;
    if (capture != nullptr) pcap_breakloop(capture);
}

bool shutdown_requested() { return signal_received != 0; }

void watch_capture(pcap_t* capture) { watched_capture = capture; }

bool shutdown_signalled_by_exit() {
    const sigset_t set = termination_signal_set();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    for (int signal_number : termination_signals) {
        // Held pending, it never reaches the handler: its deadline is
        // started here, or the summary could wait on a reader for good.
        if (sigismember(&pending, signal_number) == 1) start_deadline();
    }
    return shutdown_requested();
}

int print_shutdown_summary() {
    flush_output();
    const auto processed = static_cast<unsigned>(the_run.processed_count);
    if (the_run.format == report_format::json) {
        out_format("{\"signal\":\"received\",\"processed\":%u}\n", processed);
    } else {
        out_format("\nSignal received. Shutdown.\nProcessed %u DHCP requests.\n\n", processed);
    }
    return checked_exit_status(0);
}

}  // namespace dhcpident
