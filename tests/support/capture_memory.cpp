#include "capture_memory.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dhcpident {

pcap_t* open_capture_bytes(const void* context, char* error_text) {
    const auto* bytes = static_cast<const capture_bytes*>(context);
    // Opened for reading only: the bytes are never written.
    std::FILE* file = fmemopen(const_cast<void*>(bytes->data), bytes->size, "rb");
    if (file == nullptr) {
        std::snprintf(error_text, PCAP_ERRBUF_SIZE, "memory capture: %s", std::strerror(errno));
        return nullptr;
    }
    pcap_t* capture = pcap_fopen_offline(file, error_text);
    if (capture == nullptr) std::fclose(file);
    return capture;
}

}  // namespace dhcpident
