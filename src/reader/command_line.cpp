#include "reader/command_line.h"

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "base/output.h"
#include "common/number_options.h"
#include "dhcp/select.h"
#include "fingerprint/names.h"

namespace dhcpident {
namespace {

constexpr char usage[] =
    "Usage: dhcpident [--json] [--names[=DIR]] MAC\n"
    "       dhcpident [--json] [--names[=DIR]] [--max-clients=N]\n"
    "                 [--max-memory=BYTES] --all\n"
    "Reports how DHCP clients identified themselves in their last DHCPREQUEST,\n"
    "from the capture /tmp/capfileall.pcap. Must be started as root.\n"
    "\n"
    "  MAC              a client's address as reports write it: aa:bb:cc:dd:ee:ff\n"
    "  --all            every client, in the order of their first requests\n"
    "  --json           one JSON object a line\n"
    "  --names[=DIR]    and the device and its maker, from DIR (by default\n"
    "                   /usr/share/dhcpident) and /etc/dhcpident/devices\n"
    "  --max-clients=N  with --all, at most N clients (65536; up to 16777216)\n"
    "  --max-memory=BYTES  with --all, within BYTES, K or M for KiB or MiB (8M;\n"
    "                   up to 1024M)\n"
    "  --help, --version\n";

}  // namespace

int read_command_line(int argc, char** argv, invocation& out) {
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const char* option = argv[i];
        bool valid = true;
        if (std::strcmp(option, "--all") == 0) {
            out.all = true;
        } else if (std::strcmp(option, "--json") == 0) {
            out.format = report_format::json;
        } else if (std::strcmp(option, "--names") == 0) {
            out.names = default_names_directory;
        } else if (std::strncmp(option, "--names=", 8) == 0 && option[8] != '\0') {
            out.names = option + 8;
        } else if (std::strcmp(option, "--help") == 0) {
            out_text(usage);
            return checked_exit_status(0);
        } else if (std::strcmp(option, "--version") == 0) {
            out_text("dhcpident " DHCPIDENT_VERSION "\n");
            return checked_exit_status(0);
        } else if (read_bound_option(option, out.limits, valid)) {
            if (!valid) return 1;
        } else {
            say("Error: Unknown option %s (see --help)\n", option);
            return 1;
        }
    }
    if (out.all) return -1;
    // A longer argument is refused, not cut: a cut one could match another
    // client.
    if (i >= argc || std::strlen(argv[i]) > target_mac_max_length) {
        say("Error: expected one argument, the client's MAC address "
                   "such as aa:bb:cc:dd:ee:ff\n");
        return 1;
    }
    out.target = argv[i];
    return -1;
}

}  // namespace dhcpident
