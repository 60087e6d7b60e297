#include "service/live_loop.h"

#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/account.h"
#include "common/signals.h"
#include "service/capture_file.h"
#include "service/live_capture.h"
#include "service/startup.h"

namespace dhcpident {
namespace {

volatile sig_atomic_t stop_signal;

void on_stop_signal(int signal_number) { stop_signal = signal_number; }

long long now_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void write_error(const char* path) {
    std::fprintf(stderr, "Error: Unable to write %s: %s\n", path, std::strerror(errno));
}

// The live run over interfaces and store, which the caller closes and
// frees however it ends.
int serve_live(const service_options& options, pcap_t** interfaces, frame_store& store) {
    if (geteuid() != 0) {
        std::fputs("Error: You need to have root privileges\n", stderr);
        return 1;
    }
    pollfd polled[max_interfaces] = {};
    const std::size_t count = options.interface_count;
    for (std::size_t i = 0; i < count; ++i) {
        char error_text[PCAP_ERRBUF_SIZE] = "";
        if ((interfaces[i] = open_interface(options.interfaces[i], error_text)) == nullptr) {
            std::fprintf(stderr, "Error: Unable to open interface %s: %s\n",
                         options.interfaces[i], error_text);
            return 1;
        }
        polled[i] = {pcap_get_selectable_fd(interfaces[i]), POLLIN, 0};
    }
    // A tag the kernel took off is put back by libpcap, in front of the
    // snap length's bytes.
    store = make_frame_store(options.limits, pcap_datalink(interfaces[0]), live_snaplen,
                             live_snaplen + 4);
    if (store.table == nullptr) {
        std::fputs("Error: Out of memory\n", stderr);
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

    if (!publish_as_root(options.output, store)) return 1;
    if (!drop_to_unprivileged()) {
        std::fprintf(stderr, "Error: Unable to drop privileges: %s\n", std::strerror(errno));
        return 1;
    }
    load_earlier_frames(options.output, store);
    if (!publish_capture(options.output, store)) {
        write_error(options.output);
        return 1;
    }
    store.counts.kept = 0;
    store.dropped_told = figures_of(*store.table).dropped;

    const long long interval_ms = static_cast<long long>(options.interval) * 1000;
    long long next_write = now_ms() + interval_ms;
    bool changed = false;
    // The interface lost, or null; why, or "poll" failed.
    const char* lost = nullptr;
    char lost_why[PCAP_ERRBUF_SIZE] = "";
    while (stop_signal == 0 && lost == nullptr) {
        const bool pending = changed || losses_untold(store);
        // At most an interval: its milliseconds fit a long, and divide
        // without libgcc's 64-bit division, 2 KiB of a router program.
        const long long until_write = next_write - now_ms();
        const long wait = until_write > 0 ? static_cast<long>(until_write) : 0;
        const timespec timeout{wait / 1000, wait % 1000 * 1000000};
        if (ppoll(polled, count, pending ? &timeout : nullptr, &waiting) < 0 && errno != EINTR) {
            std::snprintf(lost_why, sizeof lost_why, "%s", std::strerror(errno));
            lost = "poll";
            break;
        }
        for (std::size_t i = 0; i < count && lost == nullptr; ++i) {
            if (polled[i].revents == 0) continue;
            const int got = pcap_dispatch(interfaces[i], -1, store_pcap_frame,
                                          reinterpret_cast<u_char*>(&store));
            if (got < 0) {
                std::snprintf(lost_why, sizeof lost_why, "%s", pcap_geterr(interfaces[i]));
                lost = options.interfaces[i];
            } else if (got == 0 && (polled[i].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                // An error libpcap did not take as one would wake the wait
                // again at once, for good.
                std::snprintf(lost_why, sizeof lost_why, "the socket reported an error");
                lost = options.interfaces[i];
            }
        }
        if (store.counts.kept != 0) changed = true;
        store.counts.kept = 0;
        const long long now = now_ms();
        if (now < next_write) continue;
        if (changed && publish_capture(options.output, store)) {
            changed = false;
        } else if (changed) {
            std::fprintf(stderr, "Warning: Unable to write %s: %s, trying again in %u s\n",
                         options.output, std::strerror(errno), options.interval);
        }
        tell_losses(store);
        next_write = now + interval_ms;
    }
    // The last changes are kept whatever ends the loop.
    const bool published = !changed || publish_capture(options.output, store);
    if (!published) write_error(options.output);
    tell_losses(store);
    if (lost != nullptr) {
        std::fprintf(stderr, "Error: Lost interface %s: %s\n", lost, lost_why);
        return 1;
    }
    return published ? 0 : 1;
}

}  // namespace

int run_live(const service_options& options) {
    pcap_t* interfaces[max_interfaces] = {};
    frame_store store{};
    const int status = serve_live(options, interfaces, store);
    for (pcap_t* capture : interfaces) {
        if (capture != nullptr) pcap_close(capture);
    }
    destroy_client_table(store.table);
    return status;
}

}  // namespace dhcpident
