// The capture service's command line.
#pragma once

#include <cstddef>

#include "common/capture_open.h"
#include "dhcp/client_table.h"

namespace dhcpident {

inline constexpr std::size_t max_interfaces = 16;
// With the file beside it in a RAM-backed /tmp, some 4 MiB of a router's
// memory.
inline constexpr std::size_t default_capture_memory = std::size_t{2} << 20;
inline constexpr unsigned largest_interval = 3600;
// The kernel's buffer for each interface, kernel memory of its size: room
// for a burst of some 2,500 requests of a phone's size at once, and of
// 1,000 requests of up to 950 bytes.
inline constexpr std::size_t default_buffer = std::size_t{1} << 20;
inline constexpr std::size_t smallest_buffer = std::size_t{64} << 10;
inline constexpr std::size_t largest_buffer = std::size_t{64} << 20;

// What the command line asks for.
struct service_options {
    const char* output = capture_path;
    const char* input = nullptr;  // -r FILE; null: live
    const char* interfaces[max_interfaces] = {};
    std::size_t interface_count = 0;
    client_limits limits{default_max_clients, default_capture_memory};
    unsigned interval = 1;  // seconds
    std::size_t buffer = default_buffer;  // bytes of kernel buffer per interface
};

// Reads the command line into out. Returns -1 to go on, or the exit status
// when the command line is answered here (--help, --version: the text on
// stdout) or refused (the error on stderr).
int read_service_options(int argc, char** argv, service_options& out);

}  // namespace dhcpident
