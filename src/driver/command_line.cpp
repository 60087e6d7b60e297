#include "driver/command_line.h"

#include <cstdio>
#include <cstring>

#include "driver/output.h"

namespace dhcpident {
namespace {

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

}  // namespace

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
            out_text(usage);
            return checked_exit_status(0);
        } else if (std::strcmp(option, "--version") == 0) {
            out_text("dhcpident " DHCPIDENT_VERSION "\n");
            return checked_exit_status(0);
        } else if (std::strncmp(option, max_clients_option, max_clients_prefix) != 0 ||
                   !read_count(option + max_clients_prefix, out.limits.max_clients)) {
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

}  // namespace dhcpident
