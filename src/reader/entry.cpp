#include "reader/entry.h"

#include <unistd.h>

#include <cstdio>

#include "base/diagnostics.h"
#include "base/output.h"
#include "dhcp/all_clients.h"
#include "dhcp/hash_key.h"
#include "fingerprint/names.h"
#include "common/standard_descriptors.h"
#include "reader/capture_pass.h"
#include "reader/command_line.h"
#include "reader/shutdown.h"

namespace dhcpident {

int run_dhcpident(int argc, char** argv) {
    // Before anything is opened: a capture opened on a closed descriptor 1
    // would receive the report.
    if (!ensure_standard_descriptors()) return 1;
    install_shutdown_handlers();
    invocation asked;
    if (const int status = read_command_line(argc, argv, asked); status >= 0) return status;
    start_run(asked.target, asked.format);
    if (geteuid() != 0) {
        say("Error: You need to have root privileges\n");
        return 1;
    }
    if (asked.names != nullptr) load_names(asked.names);
    // Nothing wrong with the run, but no client's address is written so:
    // a user should hear why nothing is reported.
    if (!asked.all && run_state().target_length < 0) {
        say("Warning: %s matches no address: addresses are written in lower-case hex "
                     "pairs joined by \":\", such as aa:bb:cc:dd:ee:ff\n",
                     asked.target);
    }
    all_clients clients{nullptr, false};
    if (asked.all &&
        (clients.table = create_request_table(asked.limits, random_hash_key())) == nullptr) {
        say("Error: Out of memory\n");
        return 1;
    }
    const capture_opener open = drop_privileges_and_open_fixed_capture;
    const pass_outcome outcome = asked.all ? run_all_clients_pass(open, nullptr, clients)
                                           : run_capture_passes(open, nullptr);
    // Every client's report comes once the pass has seen its last request.
    if (outcome == pass_outcome::completed && clients.table != nullptr) {
        print_client_reports(*clients.table, asked.format, shutdown_requested);
    }
    destroy_client_table(clients.table);
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
