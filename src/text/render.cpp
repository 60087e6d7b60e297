#include "text/render.h"

namespace dhcpident {
namespace {

// Appends characters to a fixed buffer and silently drops whatever does not
// fit, so the text is always the first (size - 1) characters of the whole.
class bounded_text {
public:
    bounded_text(char* buffer, std::size_t size) : buffer_(buffer), size_(size) {}

    void put(char c) {
        if (length_ + 1 < size_) buffer_[length_++] = c;
    }

    void put_decimal(unsigned value) {
        char digits[3];  // a byte has at most three decimal digits
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0 && n < 3);
        while (n > 0) put(digits[--n]);
    }

    void put_hex_byte(std::uint8_t value) {
        put(hex_digits[value >> 4]);
        put(hex_digits[value & 0x0F]);
    }

    const char* finish() {
        buffer_[length_] = '\0';
        return buffer_;
    }

private:
    char* buffer_;
    std::size_t size_;
    std::size_t length_ = 0;
};

char hex_result[render_buffer_size];
char decimal_result[render_buffer_size];
char quad_result[16];  // "255.255.255.255" and a zero

}  // namespace

const char* hex_colon_text(byte_view bytes) {
    bounded_text text(hex_result, sizeof hex_result);
    // The count is an 8-bit number: a hardware address length, or six.
    const std::size_t count = bytes.size() < 255 ? bytes.size() : 255;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) text.put(':');
        text.put_hex_byte(bytes.u8(i));
    }
    return text.finish();
}

const char* decimal_list_text(const char* list) {
    bounded_text text(decimal_result, sizeof decimal_result);
    // An 8-bit position, as the lists it is given never exceed 255 bytes.
    for (std::uint8_t i = 0; list[i] != '\0'; ++i) {
        if (i != 0) text.put(',');
        text.put_decimal(static_cast<unsigned char>(list[i]));
        if (i == 254) break;
    }
    return text.finish();
}

namespace {

int lower_hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

int parse_hex_colon_text(const char* text, std::uint8_t* out, std::size_t capacity) {
    std::size_t count = 0;
    for (const char* at = text; *at != '\0'; at += 2) {
        if (count != 0 && *at++ != ':') return -1;
        const int high = lower_hex_digit(at[0]);
        const int low = high < 0 ? -1 : lower_hex_digit(at[1]);
        if (low < 0 || count == capacity) return -1;
        out[count++] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return static_cast<int>(count);
}

const char* dotted_quad_text(const std::uint8_t* quad) {
    bounded_text text(quad_result, sizeof quad_result);
    for (int i = 0; i < 4; ++i) {
        if (i != 0) text.put('.');
        text.put_decimal(quad[i]);
    }
    return text.finish();
}

}  // namespace dhcpident
