// Number options of both programs' command lines, "--NAME=VALUE".
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dhcp/client_table.h"

namespace dhcpident {

// An option's name with its "=", the smallest and largest values it takes,
// whether K and M may follow the digits, and the range its error names. Constants of it
// are only ever read where they are written, by the inline functions
// below: a constant holding pointers that a call needed in memory would be
// relocated at load time, and cost the router programs a page.
struct number_option {
    const char* name;
    std::uint64_t smallest;
    std::uint64_t largest;
    bool units;
    const char* range;
};

// Decimal digits only, then, when units is true, an optional K or M (KiB,
// MiB); from 1 to largest.
bool read_number(const char* digits, std::uint64_t largest, bool units, std::uint64_t& out);

// Whether option is "--NAME=..." for known.
[[gnu::always_inline]] inline bool is_option_named(const char* option, number_option known) {
    return std::strncmp(option, known.name, std::strlen(known.name)) == 0;
}

// "Error: --NAME takes a number RANGE".
void number_option_error(const char* name, const char* range);

// The value of option, which is named known; false, with the error
// written, when it is no number in the option's range.
[[gnu::always_inline]] inline bool option_value(const char* option, number_option known,
                                                std::uint64_t& out) {
    if (read_number(option + std::strlen(known.name), known.largest, known.units, out) &&
        out >= known.smallest) {
        return true;
    }
    number_option_error(known.name, known.range);
    return false;
}

// The bounds --max-clients=N and --max-memory=BYTES into limits. False when
// option is neither; else valid says whether its value was in range (when
// not, the error is written).
bool read_bound_option(const char* option, client_limits& limits, bool& valid);

}  // namespace dhcpident
