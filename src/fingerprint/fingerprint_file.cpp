#include "fingerprint/fingerprint_file.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/diagnostics.h"
#include "fingerprint/fingerprint.h"

namespace dhcpident {
namespace {

constexpr unsigned max_lines = 2000;        // comment and empty lines count
constexpr std::size_t line_bound = 1020;    // bytes read per line, with line break and zero
constexpr std::size_t max_field_length = 255;

// The five fields of a line, each up to 255 characters.
struct parsed_line {
    std::uint8_t ttl;
    char option_list[max_field_length + 1];
    char request_list[max_field_length + 1];
    char vendor_text[max_field_length + 1];
    char device_name[max_field_length + 1];
};

bool in_code_set(char c) { return (c >= '0' && c <= '9') || c == ',' || c == '*'; }

// Reads one non-empty run of characters accepted by keep, as a scanf "%["
// conversion does; fails when the run is empty or longer than a field.
template <typename Keep>
bool scan_field(const char*& at, char* out, Keep keep) {
    std::size_t n = 0;
    while (at[n] != '\0' && keep(at[n])) ++n;
    if (n == 0 || n > max_field_length) return false;
    std::memcpy(out, at, n);
    out[n] = '\0';
    at += n;
    return true;
}

bool scan_bar(const char*& at) {
    if (*at != '|') return false;
    ++at;
    return true;
}

// A decimal number as "%d" takes it (blanks, a sign, then digits), kept as
// its low 8 bits however many digits it has, so that every platform reads
// the same class whatever the width of its int.
bool scan_ttl(const char*& at, std::uint8_t& out) {
    while (*at == ' ' || (*at >= '\t' && *at <= '\r')) ++at;
    const bool negative = *at == '-';
    if (*at == '-' || *at == '+') ++at;
    if (*at < '0' || *at > '9') return false;
    unsigned value = 0;
    for (; *at >= '0' && *at <= '9'; ++at) value = (value * 10 + static_cast<unsigned>(*at - '0')) & 0xFF;
    out = static_cast<std::uint8_t>(negative ? 0u - value : value);
    return true;
}

// The line as "%d|%[0-9,*]|%[0-9,*]|%[^|]|%[^|]"; text behind the device
// name is ignored. All five fields or the line is refused.
bool parse_line(const char* line, parsed_line& out) {
    const char* at = line;
    if (!scan_ttl(at, out.ttl)) return false;
    auto not_bar = [](char c) { return c != '|'; };
    return scan_bar(at) && scan_field(at, out.option_list, in_code_set) && scan_bar(at) &&
           scan_field(at, out.request_list, in_code_set) && scan_bar(at) &&
           scan_field(at, out.vendor_text, not_bar) && scan_bar(at) &&
           scan_field(at, out.device_name, not_bar);
}

char* copy_text(const char* text) {
    const std::size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (copy != nullptr) std::memcpy(copy, text, size);
    return copy;
}

// A list field as stored: "*" stays the text "*", anything else becomes
// its codes.
char* copy_list(const char* field) {
    if (std::strcmp(field, "*") == 0) return copy_text(field);
    char codes[max_field_length + 1];
    parse_code_list(field, codes);
    return copy_text(codes);
}

// Adds the row, all fields or none.
bool add_row(const parsed_line& line) {
    fingerprint_entry row{};
    row.ttl_class = line.ttl;
    char* option_list = copy_list(line.option_list);
    char* request_list = copy_list(line.request_list);
    // Every field needs a character, so "(null)" stands for no vendor class.
    char* vendor_text =
        copy_text(std::strcmp(line.vendor_text, "(null)") == 0 ? "" : line.vendor_text);
    char* device_name = copy_text(line.device_name);
    if (option_list == nullptr || request_list == nullptr || vendor_text == nullptr ||
        device_name == nullptr) {
        std::free(option_list);
        std::free(request_list);
        std::free(vendor_text);
        std::free(device_name);
        return false;
    }
    row.option_list = option_list;
    row.request_list = request_list;
    row.vendor_text = vendor_text;
    row.device_name = device_name;
    fingerprint_table[fingerprint_count++] = row;
    return true;
}

void syntax_mismatch(unsigned line_number, const char* name) {
    say("Error: Syntax mismatch on line %u in %s\n", line_number, name);
}

// Reads one line of the file into buffer, without its line break (LF, or
// CR LF as a file written on Windows has). Returns false at the end of the
// file. A line that does not fit the bound with its line break and a zero
// (1018 characters) sets too_long and is consumed whole, so its rest is
// never taken for a further line. The last line counts even without a line
// break: a row the file holds is never lost for want of one. This is not
// the vendor-prefix lookup's reader, and must not become it: rows are whole
// lines that either parse or are reported, while the lookup compares fixed
// pieces of at most 31 characters, as its file has always been read.
bool read_line(std::FILE* file, char (&buffer)[line_bound], bool& too_long) {
    std::size_t length = 0;
    too_long = false;
    int c = std::getc(file);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::getc(file)) {
        if (length + 2 < line_bound) {
            buffer[length++] = static_cast<char>(c);
        } else {
            too_long = true;
        }
    }
    if (length > 0 && buffer[length - 1] == '\r') --length;
    buffer[length] = '\0';
    return true;
}

char vendor_result[9];  // eight characters of vendor name and a zero

}  // namespace

void parse_code_list(const char* text, char* out) {
    std::size_t count = 0;
    for (const char* piece = text; *piece != '\0';) {
        const char* end = std::strchr(piece, ',');
        if (end == nullptr) end = piece + std::strlen(piece);
        if (end != piece) {
            // Low 8 bits of the leading digits; any length of number.
            unsigned code = 0;
            for (const char* d = piece; d < end && *d >= '0' && *d <= '9'; ++d) {
                code = (code * 10 + static_cast<unsigned>(*d - '0')) & 0xFF;
            }
            if (code == 0) break;  // a zero byte would end the list anyway
            out[count++] = static_cast<char>(code);
        }
        piece = *end == ',' ? end + 1 : end;
    }
    out[count] = '\0';
}

std::uint16_t load_fingerprint_stream(std::FILE* file, const char* name) {
    char line[line_bound];
    parsed_line fields;
    bool too_long = false;
    for (unsigned line_number = 1;; ++line_number) {
        if (line_number > max_lines) {
            const int next = std::getc(file);
            if (next != EOF) {
                say("Warning: Only the first %u lines of %s are read\n", max_lines,
                             name);
            }
            break;
        }
        if (!read_line(file, line, too_long)) break;
        if (too_long) {
            syntax_mismatch(line_number, name);
            continue;
        }
        if (line[0] == '#' || line[0] == '!' || line[0] == '\0') continue;
        if (!parse_line(line, fields)) {
            syntax_mismatch(line_number, name);
            continue;
        }
        if (fingerprint_count >= fingerprint_table_capacity) {
            say("Warning: Fingerprint table full (%u rows), rest of %s not loaded\n",
                         static_cast<unsigned>(fingerprint_table_capacity), name);
            break;
        }
        if (!add_row(fields)) {
            say("Error: Out of memory on line %u in %s\n", line_number, name);
            break;
        }
    }
    return fingerprint_count;
}

void unload_fingerprint_rows() {
    for (std::size_t i = 0; i < fingerprint_count && i < fingerprint_table_capacity; ++i) {
        fingerprint_entry& row = fingerprint_table[i];
        std::free(const_cast<char*>(row.option_list));
        std::free(const_cast<char*>(row.request_list));
        std::free(const_cast<char*>(row.vendor_text));
        std::free(const_cast<char*>(row.device_name));
        row = fingerprint_entry{};
    }
    fingerprint_count = 0;
}

std::uint16_t load_fingerprint_file() {
    std::FILE* file = std::fopen(fingerprint_file_name, "r");
    if (file == nullptr) {
        say("Error: Unable to open %s - %s\n", fingerprint_file_name,
                     std::strerror(errno));
        return fingerprint_count;
    }
    const std::uint16_t count = load_fingerprint_stream(file, fingerprint_file_name);
    std::fclose(file);
    return count;
}

const char* lookup_vendor_prefix(const std::uint8_t* address, std::size_t length) {
    if (length < 3) return nullptr;
    std::FILE* file = std::fopen(vendor_prefix_file_name, "r");
    if (file == nullptr) return nullptr;
    char key[7];
    std::snprintf(key, sizeof key, "%02X%02X%02X", address[0], address[1], address[2]);
    std::memset(vendor_result, 0, sizeof vendor_result);
    const char* result = nullptr;
    // Pieces of up to 31 characters, not the loader's whole lines: a longer
    // line's rest is compared as a line of its own, and a last line without
    // a line break is compared too, as the lookup has always read "oui".
    char line[32];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, key, 6) != 0) continue;
        // The seventh character separates; the name is characters 8 to 15.
        std::size_t n = 0;
        if (std::strlen(line) > 7) {
            for (; n < 8 && line[7 + n] != '\0'; ++n) vendor_result[n] = line[7 + n];
        }
        while (n > 0 && (vendor_result[n - 1] == '\n' || vendor_result[n - 1] == '\r')) {
            vendor_result[--n] = '\0';
        }
        result = vendor_result;
        break;
    }
    std::fclose(file);
    return result;
}

}  // namespace dhcpident
