#include "text/json.h"

#include <cstdint>

namespace dhcpident {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The length of the valid UTF-8 sequence at text, or 0 when the byte there
// does not start one: no overlong forms, no surrogates, nothing above
// U+10FFFF (RFC 3629). Reads no further than the sequence's own bytes,
// and stops at the terminating zero, which is never a continuation byte.
int utf8_sequence_length(const unsigned char* text) {
    const unsigned char lead = text[0];
    int length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong below U+0800
        if (lead == 0xED) high = 0x9F;  // surrogates U+D800..DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong below U+10000
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (text[1] < low || text[1] > high) return 0;
    for (int i = 2; i < length; ++i) {
        if (text[i] < 0x80 || text[i] > 0xBF) return 0;
    }
    return length;
}

}  // namespace

void put_json_string(std::FILE* out, const char* text) {
    const auto* at = reinterpret_cast<const unsigned char*>(text);
    std::putc('"', out);
    while (*at != 0) {
        const unsigned char c = *at;
        if (c == '"') {
            std::fputs("\\\"", out);
        } else if (c == '\\') {
            std::fputs("\\\\\\\\", out);  // the value's backslash, doubled
        } else if (c < 0x20 || c == 0x7F) {
            const char escaped[] = {'\\', 'u', '0', '0', hex_digits[c >> 4], hex_digits[c & 0x0F], 0};
            std::fputs(escaped, out);
        } else if (c < 0x80) {
            std::putc(c, out);
        } else if (const int length = utf8_sequence_length(at)) {
            std::fwrite(at, 1, static_cast<std::size_t>(length), out);
            at += length;
            continue;
        } else {
            const char escaped[] = {'\\', '\\', 'x', hex_digits[c >> 4], hex_digits[c & 0x0F], 0};
            std::fputs(escaped, out);
        }
        ++at;
    }
    std::putc('"', out);
}

}  // namespace dhcpident
