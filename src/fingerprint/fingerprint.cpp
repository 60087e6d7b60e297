#include "fingerprint/fingerprint.h"

#include <cstdio>
#include <cstring>

#include "text/render.h"

namespace dhcpident {

fingerprint_entry fingerprint_table[fingerprint_table_capacity];
std::uint16_t fingerprint_count;

namespace {

char fallback_result[render_buffer_size];

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

const char* match_fingerprint(std::uint8_t ttl_class, const char* option_codes,
                              const char* parameter_list, const char* vendor_class) {
    for (std::size_t i = 0; i < fingerprint_count && i < fingerprint_table_capacity; ++i) {
        const fingerprint_entry& row = fingerprint_table[i];
        if (list_matches(row.request_list, parameter_list) &&
            list_matches(row.option_list, option_codes) &&
            same_text(row.vendor_text, vendor_class) &&
            (row.ttl_class == ttl_class || row.ttl_class == 0) && row.device_name != nullptr) {
            return row.device_name;
        }
    }
    return nullptr;
}

const char* lookup_fingerprint(std::uint8_t ttl_class, const char* option_codes,
                               const char* parameter_list, const char* vendor_class) {
    if (const char* name = match_fingerprint(ttl_class, option_codes, parameter_list, vendor_class)) {
        return name;
    }
    // The rendered list is at most 254 characters: it fits with its zero.
    const char* list = decimal_list_text(parameter_list);
    std::memcpy(fallback_result, list, std::strlen(list) + 1);
    // The same bytes as printf's "dhcpvendor='%s'\n", at a fraction of its cost.
    std::fputs("dhcpvendor='", stdout);
    std::fputs(vendor_class, stdout);
    std::fputs("'\n", stdout);
    return fallback_result;
}

}  // namespace dhcpident
