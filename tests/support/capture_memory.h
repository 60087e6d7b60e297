// A capture file held in memory, opened as a pass would open the file: for
// tests and fuzzers, which run the passes without the fixed path.
#pragma once

#include <pcap/pcap.h>

#include <cstddef>

namespace dhcpident {

struct capture_bytes {
    const void* data;
    std::size_t size;
};

// A capture_opener whose context is a capture_bytes.
pcap_t* open_capture_bytes(const void* context, char* error_text);

}  // namespace dhcpident
