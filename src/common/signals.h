// The signals that end either program: it finishes what it has in hand
// (a report, a last write of its file) and then ends.
#pragma once

#include <signal.h>

namespace dhcpident {

inline constexpr int termination_signals[] = {SIGHUP, SIGINT, SIGTERM};

// The termination signals as a set.
inline sigset_t termination_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal_number : termination_signals) sigaddset(&set, signal_number);
    return set;
}

}  // namespace dhcpident
