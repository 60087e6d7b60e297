#include "driver/capture_service.h"

#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/output.h"
#include "dhcp/hash_key.h"
#include "driver/capture_file.h"
#include "driver/capture_open.h"
#include "driver/command_line.h"
#include "driver/link_type.h"
#include "driver/live_capture.h"
#include "driver/standard_descriptors.h"

namespace dhcpident {
namespace {

constexpr std::size_t max_interfaces = 16;
// With the file beside it in a RAM-backed /tmp, some 4 MiB of a router's
// memory.
constexpr std::size_t default_capture_memory = std::size_t{2} << 20;
constexpr std::uint64_t largest_interval = 3600;
// libpcap's largest snap length: no frame of a file is longer.
constexpr std::uint32_t largest_file_frame = 262144;

constexpr char usage[] =
    "Usage: dhcpident-capture [-w FILE] [--max-clients=N] [--max-memory=BYTES]\n"
    "           [--interval=SECONDS] (-i INTERFACE [-i INTERFACE]... | -r FILE)\n"
    "Keeps every DHCP client's last DHCPREQUEST frame in a capture for dhcpident.\n"
    "\n"
    "  -i INTERFACE     capture on the Ethernet INTERFACE (up to 16 of them);\n"
    "                   needs root, then runs as user and group 65534\n"
    "  -r FILE          read the frames of the capture FILE instead, write once\n"
    "  -w FILE          the output (default /tmp/capfileall.pcap), replaced whole\n"
    "  --max-clients=N  keep at most N clients (default 65536, at most 16777216)\n"
    "  --max-memory=BYTES  keep them in at most BYTES of memory, K or M for KiB or\n"
    "                   MiB (default 2M, at most 1024M); past either bound, the\n"
    "                   clients whose last request is oldest are dropped\n"
    "  --interval=SECONDS  replace the output at most once in SECONDS while clients\n"
    "                   change (default 1, from 1 to 3600)\n"
    "  --help           this text\n"
    "  --version        the version\n";

struct service_options {
    const char* output = capture_path;
    const char* input = nullptr;
    const char* interfaces[max_interfaces] = {};
    std::size_t interface_count = 0;
    client_limits limits{default_max_clients, default_capture_memory};
    unsigned interval = 1;
};

// -1 to go on, else the exit status (the answer or the error written).
int read_options(int argc, char** argv, service_options& out) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        bool valid = true;
        std::uint64_t number = 0;
        if (std::strcmp(option, "-i") == 0 || std::strcmp(option, "-r") == 0 ||
            std::strcmp(option, "-w") == 0) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "Error: %s takes an argument (see --help)\n", option);
                return 1;
            }
            const char* value = argv[++i];
            if (option[1] == 'w') {
                out.output = value;
            } else if (option[1] == 'r') {
                out.input = value;
            } else if (out.interface_count == max_interfaces) {
                std::fputs("Error: At most 16 interfaces\n", stderr);
                return 1;
            } else {
                out.interfaces[out.interface_count++] = value;
            }
        } else if (std::strncmp(option, "--interval=", 11) == 0) {
            if (!read_number(option + 11, largest_interval, false, number)) {
                std::fputs("Error: --interval takes a number from 1 to 3600\n", stderr);
                return 1;
            }
            out.interval = static_cast<unsigned>(number);
        } else if (read_bound_option(option, out.limits, valid)) {
            if (!valid) return 1;
        } else if (std::strcmp(option, "--help") == 0) {
            out_text(usage);
            return checked_exit_status(0);
        } else if (std::strcmp(option, "--version") == 0) {
            out_text("dhcpident-capture " DHCPIDENT_VERSION "\n");
            return checked_exit_status(0);
        } else {
            std::fprintf(stderr, "Error: Unknown option %s (see --help)\n", option);
            return 1;
        }
    }
    if ((out.interface_count != 0) == (out.input != nullptr)) {
        std::fputs("Error: expected -i INTERFACE or -r FILE, not both (see --help)\n", stderr);
        return 1;
    }
    return -1;
}

void write_error(const char* path) {
    std::fprintf(stderr, "Error: Unable to write %s: %s\n", path, std::strerror(errno));
}

// What was dropped or refused since the last report of it, in one line
// each: at most once an interval, however many.
void warn_of_losses(kept_capture& kept, std::uint32_t& dropped_reported) {
    const std::uint32_t dropped = figures_of(*kept.table).dropped;
    if (dropped != dropped_reported) {
        const client_limits& limits = limits_of(*kept.table);
        std::fprintf(stderr,
                     "Warning: Dropped %u clients whose last request was oldest, to keep within "
                     "%u clients and %lu bytes\n",
                     static_cast<unsigned>(dropped - dropped_reported),
                     static_cast<unsigned>(limits.max_clients),
                     static_cast<unsigned long>(limits.max_memory));
        dropped_reported = dropped;
    }
    if (kept.counts.refused != 0) {
        const char* why = kept.counts.why_refused == store_outcome::crowded ? "client index crowded"
                          : kept.counts.why_refused == store_outcome::out_of_memory
                              ? "out of memory"
                              : "larger than --max-memory holds";
        std::fprintf(stderr, "Warning: %u requests not kept: %s\n",
                     static_cast<unsigned>(kept.counts.refused), why);
        kept.counts.refused = 0;
    }
}

int run_from_file(const service_options& options) {
    char error_text[PCAP_ERRBUF_SIZE] = "";
    pcap_t* input = pcap_open_offline(options.input, error_text);
    if (input == nullptr) {
        std::fprintf(stderr, "Error: Unable to open capture %s\n", error_text);
        return 1;
    }
    const int snapshot = pcap_snapshot(input);
    const std::uint32_t largest =
        snapshot > 0 && static_cast<std::uint32_t>(snapshot) < largest_file_frame
            ? static_cast<std::uint32_t>(snapshot)
            : largest_file_frame;
    kept_capture kept{create_frame_table(options.limits, random_hash_key(), largest),
                      pcap_datalink(input), 0, 0, {}};
    if (kept.table == nullptr) {
        std::fputs("Error: Out of memory\n", stderr);
        pcap_close(input);
        return 1;
    }
    // An unknown link type is read as the reports read it, with nothing in
    // front of the IP header.
    kept.link_header_len = link_header_length(kept.link_type).value_or(0);
    if (!read_frames(input, kept)) {
        std::fprintf(stderr, "Warning: Unable to read all of %s: %s\n", options.input,
                     pcap_geterr(input));
    }
    pcap_close(input);
    std::uint32_t dropped_reported = 0;
    warn_of_losses(kept, dropped_reported);
    const bool published = publish_capture(options.output, kept);
    if (!published) write_error(options.output);
    destroy_client_table(kept.table);
    return published ? 0 : 1;
}

volatile sig_atomic_t stop_signal;

void on_stop_signal(int signal_number) { stop_signal = signal_number; }

// The first file, as root: made for nobody, with the earlier clients read
// by a child that runs as nobody, so that root reads nothing of them, then
// renamed over path by root, which may replace whatever is there (a file
// of root's, another user's link). From then on nobody can replace it.
bool publish_as_root(const char* path, kept_capture& kept) {
    char name[PATH_MAX];
    const int fd = create_beside(path, name, unprivileged_id);
    if (fd < 0) {
        write_error(path);
        return false;
    }
    const pid_t child = fork();
    if (child == 0) {
        if (!drop_to_nobody()) _exit(2);
        load_earlier_frames(path, kept);
        const bool written = write_kept_capture(fd, kept) && close(fd) == 0;
        if (!written) write_error(path);
        _exit(written ? 0 : 1);
    }
    close(fd);
    int status = 0;
    while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (rename(name, path) == 0) return true;
        write_error(path);
    } else if (child < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == 2) {
        std::fprintf(stderr, "Error: Unable to start as user 65534: %s\n",
                     child < 0 ? std::strerror(errno) : "the child failed");
    }
    unlink(name);
    return false;
}

long long now_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The live run over interfaces and kept, which the caller closes and frees
// however it ends.
int serve_live(const service_options& options, pcap_t** interfaces, kept_capture& kept) {
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
    kept = kept_capture{create_frame_table(options.limits, random_hash_key(), live_snaplen + 4),
                        pcap_datalink(interfaces[0]), 0, live_snaplen, {}};
    if (kept.table == nullptr) {
        std::fputs("Error: Out of memory\n", stderr);
        return 1;
    }
    kept.link_header_len = link_header_length(kept.link_type).value_or(0);

    // The signals are seen only while the loop waits, so that none falls
    // between its test and the wait.
    sigset_t stopping, waiting;
    sigemptyset(&stopping);
    for (int s : {SIGHUP, SIGINT, SIGTERM}) sigaddset(&stopping, s);
    sigprocmask(SIG_BLOCK, &stopping, &waiting);
    struct sigaction action = {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGHUP, SIGINT, SIGTERM}) sigaction(s, &action, nullptr);

    if (!publish_as_root(options.output, kept)) return 1;
    if (!drop_to_nobody()) {
        std::fprintf(stderr, "Error: Unable to drop privileges: %s\n", std::strerror(errno));
        return 1;
    }
    load_earlier_frames(options.output, kept);
    if (!publish_capture(options.output, kept)) {
        write_error(options.output);
        return 1;
    }
    kept.counts.kept = 0;
    std::uint32_t dropped_reported = figures_of(*kept.table).dropped;

    const long long interval_ms = static_cast<long long>(options.interval) * 1000;
    long long next_write = now_ms() + interval_ms;
    bool changed = false;
    const char* lost = nullptr;
    char lost_why[PCAP_ERRBUF_SIZE] = "";
    while (stop_signal == 0 && lost == nullptr) {
        const bool pending = changed || kept.counts.refused != 0 ||
                             figures_of(*kept.table).dropped != dropped_reported;
        const long long wait = next_write - now_ms();
        const timespec timeout{static_cast<time_t>(wait > 0 ? wait / 1000 : 0),
                               static_cast<long>(wait > 0 ? wait % 1000 * 1000000 : 0)};
        if (ppoll(polled, count, pending ? &timeout : nullptr, &waiting) < 0 && errno != EINTR) {
            std::snprintf(lost_why, sizeof lost_why, "%s", std::strerror(errno));
            lost = "poll";
            break;
        }
        for (std::size_t i = 0; i < count && lost == nullptr; ++i) {
            if (polled[i].revents == 0) continue;
            const int got = pcap_dispatch(interfaces[i], -1, keep_captured_frame,
                                          reinterpret_cast<u_char*>(&kept));
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
        if (kept.counts.kept != 0) changed = true;
        kept.counts.kept = 0;
        const long long now = now_ms();
        if (now < next_write) continue;
        if (changed && publish_capture(options.output, kept)) {
            changed = false;
        } else if (changed) {
            std::fprintf(stderr, "Warning: Unable to write %s: %s, trying again in %u s\n",
                         options.output, std::strerror(errno), options.interval);
        }
        warn_of_losses(kept, dropped_reported);
        next_write = now + interval_ms;
    }
    // The last changes are kept whatever ends the loop.
    const bool published = !changed || publish_capture(options.output, kept);
    if (!published) write_error(options.output);
    warn_of_losses(kept, dropped_reported);
    if (lost != nullptr) {
        std::fprintf(stderr, "Error: Lost interface %s: %s\n", lost, lost_why);
        return 1;
    }
    return published ? 0 : 1;
}

int run_live(const service_options& options) {
    pcap_t* interfaces[max_interfaces] = {};
    kept_capture kept{};
    const int status = serve_live(options, interfaces, kept);
    for (pcap_t* capture : interfaces) {
        if (capture != nullptr) pcap_close(capture);
    }
    destroy_client_table(kept.table);
    return status;
}

}  // namespace

int run_dhcpident_capture(int argc, char** argv) {
    if (!ensure_standard_descriptors()) return 1;
    service_options options;
    if (const int status = read_options(argc, argv, options); status >= 0) return status;
    // A directory is no output, and is never replaced.
    struct stat status;
    if (lstat(options.output, &status) == 0 && S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        write_error(options.output);
        return 1;
    }
    return options.input != nullptr ? run_from_file(options) : run_live(options);
}

}  // namespace dhcpident
