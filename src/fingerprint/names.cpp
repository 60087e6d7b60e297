#include "fingerprint/names.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diagnostics.h"

namespace dhcpident {
namespace {

// A rules file larger than this is no rules file.
constexpr off_t largest_rules_file = off_t{1} << 20;
constexpr std::size_t longest_name = 200;  // with its version, within a 255-byte text

enum class vendor_match : std::uint8_t { any, exact, prefix };

// A rule: each list a zero-terminated byte string of codes, or null for
// any; the vendor class's text, or its prefix.
struct device_rule {
    const char* codes;
    const char* list;
    const char* vendor;
    const char* name;
    std::uint16_t vendor_length;
    std::uint8_t ttl_class;  // 0: any
    vendor_match match;
};

// The maker table's layout (its builder, scripts/make-makers.py, writes
// it): a header of 128 bytes, then for each of its two kinds of prefix a
// block index, then the entries, the name blocks and the names.
constexpr char maker_magic[] = "DIMAKER1";
constexpr std::size_t maker_header = 128;
constexpr std::uint32_t entries_per_block = 32, names_per_block = 16;

struct prefix_list {
    std::size_t index;  // of the block index in the table
    std::uint32_t entries, blocks;
    int width;  // bytes of a block's first prefix
    int bits;   // of a prefix
};

// Zero at start, with no constructor: a dynamic one would cost the router
// program a RELRO page.
struct names_state {
    bool wanted;
    device_rule* rules;
    std::size_t rule_count;
    const char* mapped;  // the mapped table; null: none. Its size:
    std::size_t mapped_size;
    char* texts[2];      // the rules files read
    prefix_list lists[2];  // 28-bit prefixes, then 24-bit ones
    std::size_t entries, name_blocks, names;  // where they lie in the table
    std::uint32_t name_count;
    char device[256];
} state;

// The mapped table, read through a byte_view as every byte a file or a
// frame holds is.
byte_view maker_table() {
    return byte_view(reinterpret_cast<const std::uint8_t*>(state.mapped), state.mapped_size);
}

// The first c at or behind at, or the end of the text.
char* until(char* at, char c) {
    while (*at != '\0' && *at != c) ++at;
    return at;
}

std::uint32_t be(byte_view bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | bytes.u8(at + static_cast<std::size_t>(i));
    return value;
}

// A whole regular file, ending in a zero byte, from the heap; null with
// errno when it cannot be read.
char* read_text(const char* path) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status;
    char* text = nullptr;
    const bool stated = fstat(fd, &status) == 0;
    if (stated && !S_ISREG(status.st_mode)) {
        errno = EINVAL;
    } else if (stated && status.st_size > largest_rules_file) {
        errno = EFBIG;
    } else if (stated &&
               (text = static_cast<char*>(std::malloc(static_cast<std::size_t>(status.st_size) + 1)))) {
        std::size_t got = 0;
        for (ssize_t n; got < static_cast<std::size_t>(status.st_size) &&
                        (n = read(fd, text + got, static_cast<std::size_t>(status.st_size) - got)) > 0;) {
            got += static_cast<std::size_t>(n);
        }
        text[got] = '\0';
    }
    const int why = errno;
    close(fd);
    errno = why;
    return text;
}

// A code list in place: "*" (any: null), or decimal codes 1 to 255 joined
// by "," (none: the empty list), written over the text as bytes.
bool parse_codes(char* field, const char*& out) {
    if (std::strcmp(field, "*") == 0) {
        out = nullptr;
        return true;
    }
    char* write = field;
    for (const char* at = field; *at != '\0';) {
        unsigned code = 0;
        const char* digits = at;
        for (; *at >= '0' && *at <= '9' && code <= 255; ++at) code = code * 10 + static_cast<unsigned>(*at - '0');
        if (at == digits || code == 0 || code > 255 || (*at != ',' && *at != '\0')) return false;
        if (*at == ',' && *++at == '\0') return false;
        *write++ = static_cast<char>(code);
    }
    *write = '\0';
    out = field;
    return true;
}

// One line of a rules file into a rule, or why not.
const char* parse_rule(char* line, device_rule& rule) {
    char* field[5];
    int fields = 0;
    for (char* at = line; at != nullptr; ++fields) {
        if (fields == 5) return "not five fields joined by \"|\"";
        field[fields] = at;
        at = until(at, '|');
        at = *at != '\0' ? (*at = '\0', at + 1) : nullptr;
    }
    if (fields != 5) return "not five fields joined by \"|\"";
    // The classes as text, one after another; no table of pointers.
    static constexpr char classes[] = "0\0" "32\0" "64\0" "128\0" "255";
    const char* ttl = classes;
    while (ttl < classes + sizeof classes && std::strcmp(ttl, field[0]) != 0) ttl += std::strlen(ttl) + 1;
    if (ttl >= classes + sizeof classes) return "a TTL class is 0, 32, 64, 128 or 255";
    rule.ttl_class = 0;
    for (; *ttl != '\0'; ++ttl) rule.ttl_class = static_cast<std::uint8_t>(rule.ttl_class * 10 + (*ttl - '0'));
    if (!parse_codes(field[1], rule.codes) || !parse_codes(field[2], rule.list)) {
        return "a code list is \"*\" or codes from 1 to 255 joined by \",\"";
    }
    char* vendor = field[3];
    std::size_t length = std::strlen(vendor);
    rule.match = vendor_match::exact;
    if (std::strcmp(vendor, "*") == 0) {
        rule.match = vendor_match::any;
    } else if (std::strcmp(vendor, "(null)") == 0) {
        vendor[length = 0] = '\0';
    } else if (length != 0 && vendor[length - 1] == '*') {
        rule.match = vendor_match::prefix;
        vendor[--length] = '\0';
    }
    if (length > 255) return "a vendor class is at most 255 bytes";
    rule.vendor = vendor;
    rule.vendor_length = static_cast<std::uint16_t>(length);
    rule.name = field[4];
    if (rule.name[0] == '\0' || std::strlen(rule.name) > longest_name) {
        return "a device name is 1 to 200 bytes";
    }
    return nullptr;
}

bool matches(const device_rule& rule, std::uint8_t ttl_class, const char* option_codes,
             const char* parameter_list, const char* vendor_class) {
    if (rule.ttl_class != 0 && rule.ttl_class != ttl_class) return false;
    if (rule.list != nullptr && std::strcmp(rule.list, parameter_list) != 0) return false;
    if (rule.codes != nullptr && std::strcmp(rule.codes, option_codes) != 0) return false;
    switch (rule.match) {
    case vendor_match::any:
        return true;
    case vendor_match::prefix:
        return std::strncmp(vendor_class, rule.vendor, rule.vendor_length) == 0;
    case vendor_match::exact:
        break;
    }
    return std::strcmp(vendor_class, rule.vendor) == 0;
}

// The table at path, mapped and its layout checked: false with why.
bool map_makers(const char* path, const char*& why) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat status;
    if (fd < 0 || fstat(fd, &status) != 0) {
        why = std::strerror(errno);
        if (fd >= 0) close(fd);
        return false;
    }
    const auto size = static_cast<std::size_t>(status.st_size);
    // Root's own only: a file that another user could cut short while it
    // is mapped would end the program (SIGBUS) at the next name read.
    void* pages = !S_ISREG(status.st_mode) || size < maker_header || status.st_uid != 0
                      ? MAP_FAILED
                      : mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    why = status.st_uid != 0 ? "not root's" : "not a maker table, or cut short";
    if (pages == MAP_FAILED) return false;
    const byte_view table(static_cast<const std::uint8_t*>(pages), size);
    std::uint32_t word[7];
    for (std::size_t i = 0; i < 7; ++i) word[i] = be(table, 8 + 4 * i, 4);
    state.lists[0] = {maker_header + std::size_t{word[1]} * 6, word[2], word[3], 4, 28};
    state.lists[1] = {maker_header, word[0], word[1], 3, 24};
    state.entries = state.lists[0].index + std::size_t{word[3]} * 7;
    state.name_count = word[4];
    state.name_blocks = state.entries + word[5];
    state.names = state.name_blocks + std::size_t{(word[4] + names_per_block - 1) / names_per_block} * 3;
    const bool whole = std::strncmp(static_cast<const char*>(pages), maker_magic, 8) == 0 &&
                       word[0] <= 1u << 24 &&
                       word[2] <= 1u << 28 && word[4] <= 1u << 24 &&
                       word[1] == (word[0] + entries_per_block - 1) / entries_per_block &&
                       word[3] == (word[2] + entries_per_block - 1) / entries_per_block &&
                       word[5] < size && word[6] != 0 && state.names <= size &&
                       size - state.names == word[6] &&
                       table.u8(size - 1) == 0;
    if (!whole) {
        munmap(pages, size);
        return false;
    }
    state.mapped = static_cast<const char*>(pages);
    state.mapped_size = size;
    return true;
}

// A varint at at: 7 bits a byte, low bits first; false past the table.
bool varint(byte_view table, std::size_t& at, std::uint32_t& value) {
    value = 0;
    for (int shift = 0; shift < 28; shift += 7) {
        if (!table.has(at, 1)) return false;
        const std::uint8_t byte = table.u8(at++);
        value |= std::uint32_t{byte & 0x7Fu} << shift;
        if ((byte & 0x80) == 0) return true;
    }
    return false;
}

// The name number of prefix in list, or -1: the last block whose first
// prefix is not above it, searched, then its entries decoded.
[[gnu::noinline]] long find_prefix(const prefix_list& list, std::uint32_t prefix) {
    const byte_view table = maker_table();
    const std::size_t item = static_cast<std::size_t>(list.width) + 3;
    const int shift = list.width * 8 - list.bits;
    std::uint32_t low = 0, high = list.blocks;  // the block is below high
    while (high - low > 1) {
        const std::uint32_t middle = low + (high - low) / 2;
        if (be(table, list.index + middle * item, list.width) >> shift <= prefix) {
            low = middle;
        } else {
            high = middle;
        }
    }
    if (list.blocks == 0) return -1;
    std::uint32_t at_prefix = be(table, list.index + low * item, list.width) >> shift;
    std::size_t at = state.entries + be(table, list.index + low * item + static_cast<std::size_t>(list.width), 3);
    const std::uint32_t in_block = low + 1 == list.blocks ? list.entries - low * entries_per_block
                                                          : entries_per_block;
    std::uint32_t number = 0, delta = 0;
    for (std::uint32_t i = 0; i < in_block && at_prefix <= prefix; ++i) {
        if (i != 0 && !varint(table, at, delta)) return -1;
        at_prefix += delta;
        if (!varint(table, at, number)) return -1;
        if (at_prefix == prefix) return number;
    }
    return -1;
}

void unreadable(const char* path, const char* why) {
    say("Warning: Unable to read %s: %s\n", path, why);
}

}  // namespace

void add_device_rules(char* text, const char* file) {
    // Room for a rule a line, taken once.
    std::size_t lines = 1;
    for (const char* at = text; *at != '\0'; ++at) lines += *at == '\n';
    auto* grown = static_cast<device_rule*>(std::malloc((state.rule_count + lines) * sizeof(device_rule)));
    if (grown == nullptr) return;
    if (state.rule_count != 0) std::memcpy(grown, state.rules, state.rule_count * sizeof(device_rule));
    std::free(state.rules);
    state.rules = grown;
    unsigned line_number = 0;
    for (char* line = text; line != nullptr && *line != '\0';) {
        char* next = until(line, '\n');
        next = *next != '\0' ? (*next = '\0', next + 1) : nullptr;
        ++line_number;
        const std::size_t length = std::strlen(line);
        if (length != 0 && line[length - 1] == '\r') line[length - 1] = '\0';
        if (line[0] != '\0' && line[0] != '#') {
            device_rule rule{};
            if (const char* why = parse_rule(line, rule)) {
                say("Warning: Skipping line %u of %s: %s\n", line_number, file, why);
            } else {
                state.rules[state.rule_count++] = rule;
            }
        }
        line = next;
    }
}

namespace {

// The rules at path, kept; a file that cannot be read is said, unless it
// may be missing and is.
void read_rules(const char* path, char*& kept, bool may_be_missing) {
    if ((kept = read_text(path)) != nullptr) {
        add_device_rules(kept, path);
    } else if (!may_be_missing || errno != ENOENT) {
        unreadable(path, std::strerror(errno));
    }
}

}  // namespace

void load_names(const char* directory, const char* local_rules) {
    state.wanted = true;
    struct stat status;
    const bool found = fstatat(AT_FDCWD, directory, &status, 0) == 0;
    if (!found || !S_ISDIR(status.st_mode)) {
        unreadable(directory, std::strerror(found ? ENOTDIR : errno));
        return;
    }
    // The local rules first: they come before the shipped ones. Not there
    // is nothing to say.
    read_rules(local_rules, state.texts[0], true);
    // Room for either name behind the folder's, or the folder is said to
    // be too long: a cut path would name another file.
    char path[4096];
    const int length = std::snprintf(path, sizeof path, "%s/devices", directory);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof path) {
        unreadable(directory, std::strerror(ENAMETOOLONG));
        return;
    }
    read_rules(path, state.texts[1], false);
    std::memcpy(path + length - 7, "makers", 7);
    const char* why = nullptr;
    if (!map_makers(path, why)) unreadable(path, why);
}

bool names_wanted() { return state.wanted; }

const char* device_of(std::uint8_t ttl_class, const char* option_codes, const char* parameter_list,
                      const char* vendor_class) {
    for (std::size_t i = 0; i < state.rule_count; ++i) {
        const device_rule& rule = state.rules[i];
        if (!matches(rule, ttl_class, option_codes, parameter_list, vendor_class)) continue;
        // "%v": the version behind the rule's prefix, its digits and dots.
        const char* version = rule.match == vendor_match::prefix ? vendor_class + rule.vendor_length : "";
        std::size_t version_length = 0;
        while ((version[version_length] >= '0' && version[version_length] <= '9') ||
               (version[version_length] == '.' && version_length != 0)) {
            ++version_length;
        }
        while (version_length != 0 && version[version_length - 1] == '.') --version_length;
        // Cut where the buffer ends, however many "%v" the name holds.
        std::size_t out = 0;
        for (const char* at = rule.name; *at != '\0'; ++at) {
            const bool mark = at[0] == '%' && at[1] == 'v';
            const char* piece = mark ? version : at;
            for (std::size_t i = 0; i < (mark ? version_length : 1) && out < sizeof state.device - 1; ++i) {
                state.device[out++] = piece[i];
            }
            at += mark;
        }
        state.device[out] = '\0';
        return state.device;
    }
    return nullptr;
}

const char* maker_of(byte_view address) {
    if (address.size() != 6 || state.mapped == nullptr) return nullptr;
    const byte_view table = maker_table();
    const std::uint32_t top = be(address, 0, 4);
    long number = find_prefix(state.lists[0], top >> 4);
    if (number < 0) number = find_prefix(state.lists[1], top >> 8);
    if (number < 0 || static_cast<std::uint32_t>(number) >= state.name_count) return nullptr;
    const auto count = static_cast<std::uint32_t>(number);
    std::size_t at = state.names + be(table, state.name_blocks + count / names_per_block * 3, 3);
    for (std::uint32_t skip = count % names_per_block; skip != 0 && at < table.size(); ++at) {
        if (table.u8(at) == 0) --skip;
    }
    // The table ends in a zero byte: every name within it ends too.
    return at < table.size() ? state.mapped + at : nullptr;
}

void unload_names() {
    std::free(state.rules);
    for (char* text : state.texts) std::free(text);
    if (state.mapped != nullptr) munmap(const_cast<char*>(state.mapped), state.mapped_size);
    state = names_state{};
}

}  // namespace dhcpident
