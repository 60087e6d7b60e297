// How the frame harness reads its input: one byte choosing the link type,
// then the frame. The seed writer uses the same layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

// A pcap file holding the one frame, captured whole, in this host's byte
// order (the reader takes either).
inline std::vector<std::uint8_t> capture_file_of(const std::uint8_t* frame, std::size_t size,
                                                 int link_type) {
    std::vector<std::uint8_t> file;
    auto put = [&file](const auto value) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
        file.insert(file.end(), bytes, bytes + sizeof value);
    };
    const auto length = static_cast<std::uint32_t>(size);
    // Magic, version 2.4, zone, accuracy, snap length, link type. The snap
    // length is the frame's own, so the reader's buffer stays small.
    put(std::uint32_t{0xa1b2c3d4}), put(std::uint16_t{2}), put(std::uint16_t{4});
    put(std::uint32_t{0}), put(std::uint32_t{0}), put(length < 68 ? std::uint32_t{68} : length);
    put(static_cast<std::uint32_t>(link_type));
    // Seconds, microseconds, captured and wire length.
    put(std::uint32_t{0}), put(std::uint32_t{0}), put(length), put(length);
    file.insert(file.end(), frame, frame + size);
    return file;
}

}  // namespace fuzz_input
