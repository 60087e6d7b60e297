// The command line: options before the MAC, since no MAC text begins
// with "-".
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
};

// Reads the command line into out. Returns -1 to go on, or the exit status
// when the command line is answered here (--help, --version: the text on
// stdout) or refused (the error on stderr).
int read_command_line(int argc, char** argv, invocation& out);

// A number of the command line: decimal digits only, then, when units is
// true, an optional K or M (KiB, MiB); from 1 to largest.
bool read_number(const char* digits, std::uint64_t largest, bool units, std::uint64_t& out);

// The bounds --max-clients=N and --max-memory=BYTES into limits. False when
// option is neither; else valid says whether its value was in range (when
// not, the error is written).
bool read_bound_option(const char* option, client_limits& limits, bool& valid);

}  // namespace dhcpident
