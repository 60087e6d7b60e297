// DHCP fingerprint lookup: names a client from the initial TTL class of its
// IP packet, the option codes it sent, its parameter request list and its
// vendor class.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dhcpident {

// One known fingerprint. List fields are zero-terminated byte strings, one
// byte per code, or the text "*", which matches any list (so does the single
// code 42, which is the byte "*"). vendor_text has no wildcard.
struct fingerprint_entry {
    std::uint8_t ttl_class;  // 32, 64, 128 or 255; 0 matches any
    const char* option_list;
    const char* request_list;
    const char* vendor_text;
    const char* device_name;
};

inline constexpr std::size_t fingerprint_table_capacity = 2000;

// Filled by whoever links the library and writes rows and count directly;
// the program itself leaves it empty, so every lookup falls back.
extern fingerprint_entry fingerprint_table[fingerprint_table_capacity];
extern std::uint16_t fingerprint_count;

// The initial TTL a sender most likely used: 32, 64, 128 or 255.
std::uint8_t initial_ttl_class(std::uint8_t ttl);

// A request's fingerprint: the device name of the first row that matches
// it, or, when none does, its parameter request list in decimal. The
// report writes the vendor class on a dhcpvendor line of its own when no
// row matched, in either format.
struct fingerprint {
    const char* text;  // the row's name, or the list in decimal_list_text's buffer
    bool matched;      // a row matched: the report then has no dhcpvendor line
};
fingerprint lookup_fingerprint(std::uint8_t ttl_class, const char* option_codes,
                               const char* parameter_list, const char* vendor_class);

}  // namespace dhcpident
