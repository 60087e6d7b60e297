#include "driver/command_line.h"

#include <cstdio>
#include <cstring>

#include "base/output.h"
#include "dhcp/select.h"

namespace dhcpident {
namespace {

constexpr char usage[] =
    "Usage: dhcpident [--json] MAC\n"
    "       dhcpident [--json] [--max-clients=N] [--max-memory=BYTES] --all\n"
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
    "  --max-memory=BYTES  with --all, keep the clients in at most BYTES of memory,\n"
    "                   K or M for KiB or MiB (default 8M, at most 1024M)\n"
    "  --help           this text\n"
    "  --version        the version\n";

}  // namespace

// The number of an option such as "--max-clients=N": decimal digits only,
// then, when units is true, an optional K or M (KiB, MiB); 1 to largest.
bool read_number(const char* digits, std::uint64_t largest, bool units, std::uint64_t& out) {
    std::uint64_t value = 0;
    const char* at = digits;
    for (; *at >= '0' && *at <= '9' && value <= largest; ++at) {
        value = value * 10 + static_cast<std::uint64_t>(*at - '0');
    }
    if (at == digits || value > largest) return false;
    if (units && (*at == 'K' || *at == 'M')) value <<= *at++ == 'K' ? 10 : 20;
    if (*at != '\0' || value == 0 || value > largest) return false;
    out = value;
    return true;
}

namespace {

// A bound of the command line: its option, the largest value it takes,
// whether K and M may follow the digits, and the range its error names.
struct number_option {
    const char* name;  // with its "="
    std::uint64_t largest;
    bool units;
    const char* range;
};

constexpr number_option max_clients_option{"--max-clients=", largest_max_clients, false,
                                           "from 1 to 16777216"};
constexpr number_option max_memory_option{"--max-memory=", largest_max_memory, true,
                                          "from 1 to 1024M, K or M for KiB or MiB"};

static_assert(largest_max_clients == 16777216 && largest_max_memory == std::size_t{1024} << 20,
              "the ranges the errors name");

bool names(const char* option, number_option known) {
    return std::strncmp(option, known.name, std::strlen(known.name)) == 0;
}

// The value of option, which names known; false, with the error written,
// when it is no number in the option's range.
bool value_of(const char* option, number_option known, std::uint64_t& out) {
    if (read_number(option + std::strlen(known.name), known.largest, known.units, out)) return true;
    std::fprintf(stderr, "Error: %.*s takes a number %s\n",
                 static_cast<int>(std::strlen(known.name) - 1), known.name, known.range);
    return false;
}

}  // namespace

bool read_bound_option(const char* option, client_limits& limits, bool& valid) {
    std::uint64_t number = 0;
    if (names(option, max_clients_option)) {
        if ((valid = value_of(option, max_clients_option, number))) {
            limits.max_clients = static_cast<std::uint32_t>(number);
        }
        return true;
    }
    if (names(option, max_memory_option)) {
        if ((valid = value_of(option, max_memory_option, number))) {
            limits.max_memory = static_cast<std::size_t>(number);
        }
        return true;
    }
    return false;
}

int read_command_line(int argc, char** argv, invocation& out) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* option = argv[i];
        bool valid = true;
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
        } else if (read_bound_option(option, out.limits, valid)) {
            if (!valid) return 1;
        } else {
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
