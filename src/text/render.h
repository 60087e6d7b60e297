// Text forms of byte values, used both for comparing a client address with
// the target and for printing the report.
//
// Each renderer owns one result buffer for the whole process and returns it:
// the next call of the same renderer overwrites the text, so a caller uses or
// copies a result before calling that renderer again. Results longer than the
// buffer allows are cut to their first 254 characters.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"

namespace dhcpident {

// Size of the hex and decimal result buffers: 254 characters and a zero.
inline constexpr std::size_t render_buffer_size = 255;

// The most bytes whose whole text hex_colon_text keeps: "xx" and ":xx" per
// byte within 254 characters. Two addresses that agree in these bytes have
// one text, so they are one client.
inline constexpr std::size_t hex_colon_max_bytes = render_buffer_size / 3;
static_assert(hex_colon_max_bytes == 85);

// The digits of every hexadecimal text the program writes: lower case.
inline constexpr char hex_digits[] = "0123456789abcdef";

// "%02x" per byte of the view (at most 255 of them), joined by ":"; 100
// bytes give their first 85 (254 characters).
const char* hex_colon_text(byte_view bytes);

// A zero-terminated byte string as decimal values joined by ",". The string
// must hold at most 255 bytes before its terminator.
const char* decimal_list_text(const char* list);

// The inverse of hex_colon_text: the bytes whose text is exactly text, at
// most capacity of them. -1 when no bytes render to it (upper-case digits,
// a missing or extra ":", more than capacity bytes).
int parse_hex_colon_text(const char* text, std::uint8_t* out, std::size_t capacity);

// Four bytes in wire order as "a.b.c.d".
const char* dotted_quad_text(const std::uint8_t* quad);

}  // namespace dhcpident
