// How the frame harness reads its input: one byte choosing the link type,
// then the frame. The seed writer uses the same layout.
#pragma once

#include <cstddef>

namespace fuzz_input {

// Every link type the program knows, as pcap_datalink reports them.
inline constexpr int link_types[] = {0, 1, 8, 9, 12, 50, 51, 108, 113, 117};
inline constexpr std::size_t link_type_count = sizeof link_types / sizeof link_types[0];

inline int link_type_of(unsigned char selector) { return link_types[selector % link_type_count]; }

inline int selector_of(int link_type) {
    for (std::size_t i = 0; i < link_type_count; ++i) {
        if (link_types[i] == link_type) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace fuzz_input
