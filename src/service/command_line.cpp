#include "service/command_line.h"

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "base/output.h"
#include "common/account.h"
#include "common/number_options.h"

namespace dhcpident {
namespace {

constexpr char usage[] =
    "Usage: dhcpident-capture [-w FILE] [--max-clients=N] [--max-memory=BYTES]\n"
    "           [--interval=SECONDS] [--buffer=BYTES]\n"
    "           (-i INTERFACE [-i INTERFACE]... | -r FILE)\n"
    "Keeps every DHCP client's last DHCPREQUEST frame in a capture for dhcpident.\n"
    "\n"
    "  -i INTERFACE     capture on this Ethernet interface (up to 16); needs root,\n"
    "                   then runs as user and group 65534\n"
    "  -r FILE          read the frames of the capture FILE instead, write once\n"
    "  -w FILE          the output (/tmp/capfileall.pcap), replaced whole\n"
    "  --max-clients=N  at most N clients (65536; up to 16777216)\n"
    "  --max-memory=BYTES  within BYTES, K or M for KiB or MiB (2M; up to 1024M);\n"
    "                   past a bound, the clients whose last request is oldest go\n"
    "  --interval=SECONDS  replace the output at most once in SECONDS (1; 1 to 3600)\n"
    "  --buffer=BYTES   the kernel's buffer for each interface (1M; 64K to 64M)\n"
    "  --help, --version\n";

// The numbers the texts name.
static_assert(max_interfaces == 16 && largest_interval == 3600 && unprivileged_id == 65534 &&
              default_max_clients == 65536 && largest_max_clients == 16777216 &&
              default_capture_memory == std::size_t{2} << 20 &&
              largest_max_memory == std::size_t{1024} << 20 &&
              default_buffer == std::size_t{1} << 20 && smallest_buffer == std::size_t{64} << 10 &&
              largest_buffer == std::size_t{64} << 20);
static_assert(sizeof capture_path == sizeof "/tmp/capfileall.pcap");

constexpr number_option interval_option{"--interval=", 1, largest_interval, false,
                                        "from 1 to 3600"};
constexpr number_option buffer_option{"--buffer=", smallest_buffer, largest_buffer, true,
                                      "from 64K to 64M, K or M for KiB or MiB"};

}  // namespace

int read_service_options(int argc, char** argv, service_options& out) {
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        bool valid = true;
        std::uint64_t number = 0;
        if (std::strcmp(option, "-i") == 0 || std::strcmp(option, "-r") == 0 ||
            std::strcmp(option, "-w") == 0) {
            if (i + 1 >= argc) {
                say("Error: %s takes an argument (see --help)\n", option);
                return 1;
            }
            if (argv[i + 1][0] == '\0') {
                say("Error: %s takes an argument, not an empty one (see --help)\n", option);
                return 1;
            }
            const char* value = argv[++i];
            if (option[1] == 'w') {
                out.output = value;
            } else if (option[1] == 'r') {
                out.input = value;
            } else if (out.interface_count == max_interfaces) {
                say("Error: At most 16 interfaces\n");
                return 1;
            } else {
                out.interfaces[out.interface_count++] = value;
            }
        } else if (is_option_named(option, interval_option)) {
            if (!option_value(option, interval_option, number)) return 1;
            out.interval = static_cast<unsigned>(number);
        } else if (is_option_named(option, buffer_option)) {
            if (!option_value(option, buffer_option, number)) return 1;
            out.buffer = static_cast<std::size_t>(number);
        } else if (read_bound_option(option, out.limits, valid)) {
            if (!valid) return 1;
        } else if (std::strcmp(option, "--help") == 0) {
            out_text(usage);
            return checked_exit_status(0);
        } else if (std::strcmp(option, "--version") == 0) {
            out_text("dhcpident-capture " DHCPIDENT_VERSION "\n");
            return checked_exit_status(0);
        } else {
            say("Error: Unknown option %s (see --help)\n", option);
            return 1;
        }
    }
    if (out.interface_count == 0 && out.input == nullptr) {
        say("Error: expected -i INTERFACE or -r FILE (see --help)\n");
        return 1;
    }
    if (out.interface_count != 0 && out.input != nullptr) {
        say("Error: expected -i INTERFACE or -r FILE, not both (see --help)\n");
        return 1;
    }
    return -1;
}

}  // namespace dhcpident
