// The reader's command line: options before the MAC, since no MAC text
// begins with "-".
#pragma once

#include <cstdint>

#include "dhcp/client_table.h"
#include "dhcp/report.h"

namespace dhcpident {

// What the command line asks for.
struct invocation {
    bool all = false;
    report_format format = report_format::text;
    const char* target = nullptr;  // the MAC text; null with --all
    client_limits limits = {default_max_clients, default_max_memory};
    const char* names = nullptr;  // the data folder of --names; null: no names
};

// Reads the command line into out. Returns -1 to go on, or the exit status
// when the command line is answered here (--help, --version: the text on
// stdout) or refused (the error on stderr).
int read_command_line(int argc, char** argv, invocation& out);

}  // namespace dhcpident
