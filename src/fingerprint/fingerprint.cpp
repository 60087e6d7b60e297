#include "fingerprint/fingerprint.h"

#include <cstring>

#include "text/render.h"

namespace dhcpident {

fingerprint_entry fingerprint_table[fingerprint_table_capacity];
std::uint16_t fingerprint_count;

namespace {

bool same_text(const char* a, const char* b) {
    return a != nullptr && std::strcmp(a, b) == 0;
}

bool list_matches(const char* row_list, const char* list) {
    return same_text(row_list, "*") || same_text(row_list, list);
}

}  // namespace

std::uint8_t initial_ttl_class(std::uint8_t ttl) {
    if (ttl <= 32) return 32;
    if (ttl <= 64) return 64;
    if (ttl <= 128) return 128;
    return 255;
}

fingerprint lookup_fingerprint(std::uint8_t ttl_class, const char* option_codes,
                               const char* parameter_list, const char* vendor_class) {
    for (std::size_t i = 0; i < fingerprint_count && i < fingerprint_table_capacity; ++i) {
        const fingerprint_entry& row = fingerprint_table[i];
        if (list_matches(row.request_list, parameter_list) &&
            list_matches(row.option_list, option_codes) &&
            same_text(row.vendor_text, vendor_class) &&
            (row.ttl_class == ttl_class || row.ttl_class == 0) && row.device_name != nullptr) {
            return {row.device_name, true};
        }
    }
    return {decimal_list_text(parameter_list), false};
}

}  // namespace dhcpident
