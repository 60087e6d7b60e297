#include "common/number_options.h"

#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"

namespace dhcpident {
namespace {

constexpr number_option max_clients_option{"--max-clients=", 1, largest_max_clients, false,
                                           "from 1 to 16777216"};
constexpr number_option max_memory_option{"--max-memory=", 1, largest_max_memory, true,
                                          "from 1 to 1024M, K or M for KiB or MiB"};

static_assert(largest_max_clients == 16777216 && largest_max_memory == std::size_t{1024} << 20,
              "the ranges the errors name");

}  // namespace

bool read_number(const char* digits, std::uint64_t largest, bool units, std::uint64_t& out) {
    // Every bound fits 32 bits, and so does a number up to it: reading
    // stops at the first digit that takes it past, and 64-bit arithmetic
    // would cost code at every step on a 32-bit router.
    static_assert(largest_max_memory <= 0xFFFFFFFFu && largest_max_clients <= 0xFFFFFFFFu);
    const auto bound = static_cast<std::uint32_t>(largest);
    std::uint32_t value = 0;
    const char* at = digits;
    for (; *at >= '0' && *at <= '9'; ++at) {
        const auto digit = static_cast<std::uint32_t>(*at - '0');
        if (value > (bound - digit) / 10) return false;
        value = value * 10 + digit;
    }
    if (at == digits) return false;
    if (units && (*at == 'K' || *at == 'M')) {
        const int shift = *at++ == 'K' ? 10 : 20;
        if (value > bound >> shift) return false;
        value <<= shift;
    }
    if (*at != '\0' || value == 0 || value > bound) return false;
    out = value;
    return true;
}

void number_option_error(const char* name, const char* range) {
    say("Error: %.*s takes a number %s\n", static_cast<int>(std::strlen(name) - 1),
                 name, range);
}

bool read_bound_option(const char* option, client_limits& limits, bool& valid) {
    std::uint64_t number = 0;
    if (is_option_named(option, max_clients_option)) {
        if ((valid = option_value(option, max_clients_option, number))) {
            limits.max_clients = static_cast<std::uint32_t>(number);
        }
        return true;
    }
    if (is_option_named(option, max_memory_option)) {
        if ((valid = option_value(option, max_memory_option, number))) {
            limits.max_memory = static_cast<std::size_t>(number);
        }
        return true;
    }
    return false;
}

}  // namespace dhcpident
