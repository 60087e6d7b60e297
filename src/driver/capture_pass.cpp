#include "driver/capture_pass.h"

#include <pcap/pcap.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdint>
#include <cstring>

#include "dhcp/all_clients.h"
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

constexpr int shutdown_signals[] = {SIGHUP, SIGINT, SIGTERM};

void install_shutdown_handlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_shutdown_signal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls: a signal must not cut a write of the report.
    action.sa_flags = SA_RESTART;
    for (int signal_number : shutdown_signals) sigaction(signal_number, &action, nullptr);
}

// True when a termination signal has arrived or arrives from now on until
// the exit: from here the signals are blocked, and one that comes is held
// pending, where it is seen too.
bool shutdown_signalled_by_exit() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : shutdown_signals) sigaddset(&set, signal_number);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    bool pending_shutdown = false;
    for (int signal_number : shutdown_signals) {
        pending_shutdown = pending_shutdown || sigismember(&pending, signal_number) == 1;
    }
    return shutdown_requested || pending_shutdown;
}

int print_shutdown_summary() {
    flush_output();
    const auto processed = static_cast<unsigned>(the_run.processed_count);
    if (the_run.format == report_format::json) {
        std::printf("{\"signal\":\"received\",\"processed\":%u}\n", processed);
    } else {
        std::printf("\nSignal received. Shutdown.\nProcessed %u DHCP requests.\n\n", processed);
    }
    return checked_exit_status(0);
}

constexpr char usage[] =
    "Usage: dhcpident [--json] MAC\n"
    "       dhcpident [--json] [--max-clients=N] --all\n"
    "Reports how DHCP clients identified themselves in their last DHCPREQUEST,\n"
    "from the capture /tmp/capfileall.pcap. Must be started as root.\n"
    "\n"
    "  MAC              the client's address as the report writes it, such as\n"
    "                   aa:bb:cc:dd:ee:ff (lower case); further arguments are ignored\n"
    "  --all            every client that sent a DHCPREQUEST, in one pass, in the\n"
    "                   order of their first requests\n"
    "  --json           one JSON object a line instead of key='value' blocks\n"
    "  --max-clients=N  with --all, record at most N clients (default 65536,\n"
    "                   at most 16777216)\n"
    "  --help           this text\n"
    "  --version        the version\n";

// The count in "--max-clients=N": decimal digits only, 1 to
// largest_max_clients.
bool read_count(const char* digits, std::uint32_t& out) {
    std::uint64_t value = 0;
    const char* at = digits;
    for (; *at >= '0' && *at <= '9' && value <= largest_max_clients; ++at) {
        value = value * 10 + static_cast<std::uint64_t>(*at - '0');
    }
    if (at == digits || *at != '\0' || value == 0 || value > largest_max_clients) return false;
    out = static_cast<std::uint32_t>(value);
    return true;
}

// What the command line asks for. Options come before the MAC: no MAC
// text begins with "-".
struct invocation {
    bool all = false;
    report_format format = report_format::text;
    const char* target = nullptr;
    std::uint32_t max_clients = default_max_clients;
};

// Reads the options; returns -1 to go on, or the exit status when the
// command line is answered (help, version) or refused.
int read_command_line(int argc, char** argv, invocation& out) {
    constexpr char max_clients_option[] = "--max-clients=";
    constexpr std::size_t max_clients_prefix = sizeof max_clients_option - 1;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* option = argv[i];
        if (std::strcmp(option, "--all") == 0) {
            out.all = true;
        } else if (std::strcmp(option, "--json") == 0) {
            out.format = report_format::json;
        } else if (std::strcmp(option, "--help") == 0) {
            std::fputs(usage, stdout);
            return checked_exit_status(0);
        } else if (std::strcmp(option, "--version") == 0) {
            std::fputs("dhcpident " DHCPIDENT_VERSION "\n", stdout);
            return checked_exit_status(0);
        } else if (std::strncmp(option, max_clients_option, max_clients_prefix) != 0 ||
                   !read_count(option + max_clients_prefix, out.max_clients)) {
            // A bound that is no count is no option the program knows.
            std::fprintf(stderr, "Error: Unknown option %s (see --help)\n", option);
            return 1;
        }
    }
    if (out.all) return -1;
    // A longer argument is refused, not cut: a cut one could match another
    // client.
    if (i >= argc || std::strlen(argv[i]) > target_mac_max_length) {
        std::fputs("Error: expected one argument, the client's MAC address "
                   "such as aa:bb:cc:dd:ee:ff\n",
                   stderr);
        return 1;
    }
    out.target = argv[i];
    return -1;
}

}  // namespace

void on_shutdown_signal(int) {
    shutdown_requested = 1;
    // pcap_breakloop only sets a flag that the loop tests between frames.
    pcap_t* capture = active_capture;
    if (capture != nullptr) pcap_breakloop(capture);
}

namespace {

// One pass: opens the capture, sets the link header length from its link
// type, hands every frame to handler and closes the capture.
pass_outcome run_pass(capture_opener open, const void* context, pcap_handler handler,
                      u_char* user) {
    if (shutdown_requested) return pass_outcome::interrupted;
    char error_text[PCAP_ERRBUF_SIZE] = "";
    pcap_t* capture = open(context, error_text);
    if (capture == nullptr) {
        std::fprintf(stderr, "Error: Unable to open device %s\n", error_text);
        return pass_outcome::open_failed;
    }
    // Published before the flag is tested again: a signal from here on
    // breaks the loop, one before it is seen below.
    active_capture = capture;
    if (const auto length = link_header_length(pcap_datalink(capture))) {
        the_run.link_header_len = *length;
    }
    // A read error inside the file just ends the pass, as the end does. The
    // pass is interrupted only when a signal broke the loop: one that comes
    // once every frame was handled finds the pass complete, and is seen
    // when the program ends.
    const bool broken =
        shutdown_requested || pcap_loop(capture, -1, handler, user) == PCAP_ERROR_BREAK;
    active_capture = nullptr;
    pcap_close(capture);
    return broken ? pass_outcome::interrupted : pass_outcome::completed;
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
        the_run.pass_index = pass;
        const pass_outcome outcome = run_pass(open, context, handle_packet, nullptr);
        if (outcome != pass_outcome::completed) return outcome;
    }
    return pass_outcome::completed;
}

pass_outcome run_all_clients_pass(capture_opener open, const void* context, client_table& table) {
    return run_pass(open, context, handle_packet_all, reinterpret_cast<u_char*>(&table));
}

int run_dhcpident(int argc, char** argv) {
    // Before anything is opened: a capture opened on a closed descriptor 1
    // would receive the report.
    if (!ensure_standard_descriptors()) return 1;
    install_shutdown_handlers();
    invocation asked;
    if (const int status = read_command_line(argc, argv, asked); status >= 0) return status;
    the_run.format = asked.format;
    if (!asked.all) set_target_mac(the_run, asked.target);
    if (geteuid() != 0) {
        std::fputs("Error: You need to have root privileges\n", stderr);
        return 1;
    }
    client_table* table = nullptr;
    if (asked.all && (table = create_client_table(asked.max_clients)) == nullptr) {
        std::fputs("Error: Out of memory\n", stderr);
        return 1;
    }
    const pass_outcome outcome = asked.all
                                     ? run_all_clients_pass(open_fixed_capture, nullptr, *table)
                                     : run_capture_passes(open_fixed_capture, nullptr);
    // Every client's report comes once the pass has seen its last request.
    if (outcome == pass_outcome::completed && table != nullptr) {
        print_client_reports(*table, the_run.format);
    }
    destroy_client_table(table);
    switch (outcome) {
    case pass_outcome::open_failed:
        return checked_exit_status(1);
    case pass_outcome::interrupted:
        return print_shutdown_summary();
    case pass_outcome::completed:
        break;
    }
    // A signal as the last pass ends, or before the exit, still gets its
    // summary.
    if (shutdown_signalled_by_exit()) return print_shutdown_summary();
    return checked_exit_status(0);
}

}  // namespace dhcpident
