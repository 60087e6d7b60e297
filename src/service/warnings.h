// How often the service writes a kind of warning: its first at the next
// tick of the interval, then, while it recurs, at most once a minute, each
// line with its count since the last; a last line of each, with what is
// left, when the service ends. So a flood cannot fill a small router's log
// ring, and the lines of a kind, summed, tell exactly what was lost.
#pragma once

#include <time.h>

#include <cstdint>

namespace dhcpident {

// Milliseconds of the monotonic clock, in 32 bits: they wrap every 49
// days, so times are only ever compared by their difference (as the
// kernel compares jiffies), which is right for any two within 24 days of
// each other; the service's are within an hour. On a 32-bit router 64-bit
// arithmetic costs code at every use.
using milliseconds = std::uint32_t;

[[gnu::noinline]] inline milliseconds monotonic_ms() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<milliseconds>(now.tv_sec) * 1000 + static_cast<milliseconds>(now.tv_nsec / 1000000);
}

// Whether a comes before b.
inline bool before(milliseconds a, milliseconds b) { return static_cast<std::int32_t>(a - b) < 0; }

inline constexpr milliseconds warning_spacing_ms = 60 * 1000;

// When a kind of warning may be written again: due at once the first time,
// and always as the service ends.
struct warning_clock {
    milliseconds next_ms = 0;
    bool ever = false;

    bool due(milliseconds now_ms, bool ending) {
        if (!ending && ever && before(now_ms, next_ms)) return false;
        next_ms = now_ms + warning_spacing_ms;
        ever = true;
        return true;
    }
};

}  // namespace dhcpident
