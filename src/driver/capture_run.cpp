#include "driver/capture_run.h"

#include <cstring>

namespace dhcpident {

capture_run the_run;

void set_target_mac(const char* text) {
    const std::size_t length = std::strlen(text);
    if (length > target_mac_max_length) return;
    std::memcpy(the_run.target_mac, text, length + 1);
}

}  // namespace dhcpident
