#include "text/json.h"

#include <cstdint>

#include "base/output.h"
#include "text/render.h"

namespace dhcpident {
namespace {

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

void put_json_string(const char* text) {
    const auto* at = reinterpret_cast<const unsigned char*>(text);
    out_char('"');
    while (*at != 0) {
        const unsigned char c = *at;
        if (c == '"') {
            out_text("\\\"");
        } else if (c == '\\') {
            out_text("\\\\\\\\");  // the value's backslash, doubled
        } else if (c < 0x20 || c == 0x7F) {
            const char escaped[] = {'\\', 'u', '0', '0', hex_digits[c >> 4], hex_digits[c & 0x0F], 0};
            out_text(escaped);
        } else if (c < 0x80) {
            out_char(static_cast<char>(c));
        } else if (const int length = utf8_sequence_length(at)) {
            out_bytes(reinterpret_cast<const char*>(at), static_cast<std::size_t>(length));
            at += length;
            continue;
        } else {
            const char escaped[] = {'\\', '\\', 'x', hex_digits[c >> 4], hex_digits[c & 0x0F], 0};
            out_text(escaped);
        }
        ++at;
    }
    out_char('"');
}

}  // namespace dhcpident
