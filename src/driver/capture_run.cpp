#include "driver/capture_run.h"

#include <cstring>

#include "text/render.h"

namespace dhcpident {

capture_run the_run;

void set_target_mac(const char* text) {
    const std::size_t length = std::strlen(text);
    if (length > target_mac_max_length) return;
    std::memcpy(the_run.target_mac, text, length + 1);
    the_run.target_length = static_cast<std::int16_t>(
        parse_hex_colon_text(text, the_run.target_bytes, sizeof the_run.target_bytes));
}

}  // namespace dhcpident
