#include "service/live_loop.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "common/account.h"
#include "common/signals.h"
#include "service/capture_file.h"
#include "service/live_capture.h"
#include "service/startup.h"
#include "service/warnings.h"

namespace dhcpident {
namespace {

volatile sig_atomic_t stop_signal;

void on_stop_signal(int signal_number) { stop_signal = signal_number; }

// An interface of the command line, and what its kernel dropped.
struct device {
    const char* name;
    pcap_t* capture;          // null: not open, or lost
    unsigned dropped_seen;    // pcap_stats' count so far
    unsigned dropped_told;    // the part of it a warning has named
    warning_clock dropped_clock;
};

struct live_run {
    device devices[max_interfaces];
    std::size_t count;
    frame_store store;
};

void tell_drops(device& d, milliseconds now_ms, bool ending) {
    if (d.dropped_seen == d.dropped_told || !d.dropped_clock.due(now_ms, ending)) return;
    say("Warning: The kernel dropped %u frames on %s (capture buffer full)\n",
        d.dropped_seen - d.dropped_told, d.name);
    d.dropped_told = d.dropped_seen;
}

// What happened to a device: a warning while others are captured, an
// error when none is.
void say_of_device(bool others, const char* what, const char* name, const char* why) {
    say("%s: %s %s: %s%s\n", others ? "Warning" : "Error", what, name, why,
        others ? "; capturing on the others" : "");
}

// A device that failed, or went away: closed, and the others go on. The
// last one's failure ends the run.
bool lose(live_run& run, device& d, const char* why) {
    bool others = false;
    for (std::size_t i = 0; i < run.count; ++i) {
        others = others || (&run.devices[i] != &d && run.devices[i].capture != nullptr);
    }
    // Said before the close: why may be libpcap's text, in the handle.
    say_of_device(others, "Lost interface", d.name, why);
    pcap_close(d.capture);
    d.capture = nullptr;
    return others;
}

// Opens every interface it can: a failure costs only its own. False, every
// failure an error, when none opens.
bool open_devices(const service_options& options, live_run& run) {
    char why[max_interfaces][PCAP_ERRBUF_SIZE];
    std::size_t opened = 0;
    run.count = options.interface_count;
    for (std::size_t i = 0; i < run.count; ++i) {
        device& d = run.devices[i];
        d.name = options.interfaces[i];
        d.capture = open_interface(d.name, options.buffer, why[i]);
        opened += d.capture != nullptr;
    }
    for (std::size_t i = 0; i < run.count; ++i) {
        if (run.devices[i].capture != nullptr) continue;
        say_of_device(opened != 0, "Unable to open interface", run.devices[i].name, why[i]);
    }
    return opened != 0;
}

// Until a termination signal, or the last interface lost: frames into the
// store, the file replaced at most once an interval while clients change,
// losses told as their warnings come due. No step waits on anything but
// the interfaces, the clock and the signals: not on stderr, whatever it is.
bool capture_until_stopped(const service_options& options, live_run& run, sigset_t waiting) {
    frame_store& store = run.store;
    const milliseconds interval_ms = options.interval * 1000;
    milliseconds next_tick = monotonic_ms() + interval_ms;
    bool changed = false;
    bool lost_all = false;
    warning_clock unwritten_clock;
    while (stop_signal == 0 && !lost_all) {
        pollfd polled[max_interfaces + 1];
        device* polled_device[max_interfaces];
        nfds_t watched = 0;
        for (std::size_t i = 0; i < run.count; ++i) {
            if (run.devices[i].capture == nullptr) continue;
            polled_device[watched] = &run.devices[i];
            polled[watched++] = {pcap_get_selectable_fd(run.devices[i].capture), POLLIN, 0};
        }
        const nfds_t devices = watched;
        if (diagnostics_waiting_fd() >= 0) polled[watched++] = {diagnostics_waiting_fd(), POLLOUT, 0};
        bool untold = changed || losses_untold(store);
        for (std::size_t i = 0; i < run.count; ++i) {
            untold = untold || run.devices[i].dropped_seen != run.devices[i].dropped_told;
        }
        // At most an interval, in 32 bits: no 64-bit division, which
        // would pull 2 KiB of libgcc into a router program.
        const milliseconds waiting_from = monotonic_ms();
        const milliseconds wait = before(waiting_from, next_tick) ? next_tick - waiting_from : 0;
        const timespec timeout{static_cast<time_t>(wait / 1000), static_cast<long>(wait % 1000 * 1000000)};
        if (ppoll(polled, watched, untold ? &timeout : nullptr, &waiting) < 0 && errno != EINTR) {
            say("Error: Unable to wait for frames: %s\n", std::strerror(errno));
            lost_all = true;
            break;
        }
        for (nfds_t i = 0; i < devices && !lost_all; ++i) {
            device& d = *polled_device[i];
            if (polled[i].revents != 0) {
                const int got = pcap_dispatch(d.capture, -1, store_pcap_frame,
                                              reinterpret_cast<u_char*>(&store));
                // An error libpcap did not take as one would wake the wait
                // again at once, for good.
                const bool hung_up = (polled[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
                const char* why = got < 0                 ? pcap_geterr(d.capture)
                                  : got == 0 && hung_up ? "the socket reported an error"
                                                        : nullptr;
                if (why != nullptr && !lose(run, d, why)) lost_all = true;
            }
            pcap_stat counters;
            if (d.capture != nullptr && pcap_stats(d.capture, &counters) == 0) {
                d.dropped_seen = counters.ps_drop;
            }
        }
        if (store.counts.kept != 0) changed = true;
        store.counts.kept = 0;
        flush_diagnostics();
        const milliseconds now = monotonic_ms();
        if (before(now, next_tick)) continue;
        if (changed && publish_capture(options.output, store)) {
            changed = false;
        } else if (changed && unwritten_clock.due(now, false)) {
            say("Warning: Unable to write %s: %s, trying again every %u s\n", options.output,
                std::strerror(errno), options.interval);
        }
        tell_losses(store, now, false);
        for (std::size_t i = 0; i < run.count; ++i) tell_drops(run.devices[i], now, false);
        next_tick = now + interval_ms;
    }
    // The last changes are kept however the loop ends.
    if (store.counts.kept != 0) changed = true;
    if (changed && !publish_capture(options.output, store)) {
        say_unable_to_write(options.output);
        return false;
    }
    return !lost_all;
}

int serve_live(const service_options& options, live_run& run) {
    if (geteuid() != 0) {
        say("Error: You need to have root privileges\n");
        return 1;
    }
    // Held open, and so locked, until the process ends.
    if (lock_output(options.output) < 0 || !open_devices(options, run)) return 1;
    // A tag the kernel took off is put back by libpcap, in front of the
    // snap length's bytes.
    run.store = make_frame_store(options.limits, DLT_EN10MB, live_snaplen, live_snaplen + 4);
    if (run.store.table == nullptr) {
        say("Error: Out of memory\n");
        return 1;
    }

    // The signals are seen only while the loop waits, so that none falls
    // between its test and the wait.
    const sigset_t stopping = termination_signal_set();
    sigset_t waiting;
    sigprocmask(SIG_BLOCK, &stopping, &waiting);
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int s : termination_signals) sigaction(s, &action, nullptr);

    if (!publish_as_root(options.output, run.store)) return 1;
    if (!drop_to_unprivileged()) {
        say("Error: Unable to drop privileges: %s\n", std::strerror(errno));
        return 1;
    }
    remove_leftovers(options.output);
    // The file the child wrote, read back as the account that keeps it
    // from now on, and written again as it: the directory must let it.
    if (!load_earlier_frames(options.output, -1, run.store)) return 1;
    if (!publish_capture(options.output, run.store)) {
        say_unable_to_write(options.output);
        return 1;
    }
    run.store.counts.kept = 0;
    run.store.dropped_told = figures_of(*run.store.table).dropped;

    const bool stopped = capture_until_stopped(options, run, waiting);
    tell_losses(run.store, monotonic_ms(), true);
    for (std::size_t i = 0; i < run.count; ++i) tell_drops(run.devices[i], 0, true);
    return stopped ? 0 : 1;
}

}  // namespace

int run_live(const service_options& options) {
    // A service that runs for months never waits on stderr, and a reader
    // of it that goes away ends nothing.
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    never_wait_for_diagnostics();
    live_run run{};
    const int status = serve_live(options, run);
    for (std::size_t i = 0; i < run.count; ++i) {
        if (run.devices[i].capture != nullptr) pcap_close(run.devices[i].capture);
    }
    destroy_client_table(run.store.table);
    // One last try at what stderr has not taken, never a wait.
    flush_diagnostics();
    return status;
}

}  // namespace dhcpident
