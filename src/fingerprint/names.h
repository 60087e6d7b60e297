// What dhcpident --names says of a client: the device (from rules over the
// request's TTL class, option codes, parameter request list and vendor
// class) and the maker of its address (from the IEEE registry's prefixes).
// Both are read once at start from a data folder, /usr/share/dhcpident by
// default: "devices", a text file of rules (the local /etc/dhcpident/devices
// first, so that an administrator can add and override), and "makers", a
// table searched where it lies, mapped.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/byte_view.h"

namespace dhcpident {

inline constexpr char default_names_directory[] = "/usr/share/dhcpident";
inline constexpr char local_device_rules[] = "/etc/dhcpident/devices";

// Reads the data in directory, and the local rules, writing a warning for
// what it cannot use: a folder it cannot read (one line naming it), a file
// it cannot read or that is no maker table, a rule line it cannot parse (it
// is skipped). From then on reports name devices, with what was read.
void load_names(const char* directory, const char* local_rules = local_device_rules);

// Whether reports name devices (load_names was called).
bool names_wanted();

// The rules of a file's text into the rules read so far, behind them:
// lines that are no rule are skipped with a warning naming file and line.
// text is the file's, ending in a zero byte, and must last: the rules point
// into it.
void add_device_rules(char* text, const char* file);

// The name of the first rule that matches, its "%v" the version the vendor
// class carries; null when none does. The text lasts until the next call.
const char* device_of(std::uint8_t ttl_class, const char* option_codes, const char* parameter_list,
                      const char* vendor_class);

// The maker of a 6-byte address by its MA-M or MA-L prefix; null when the
// table has none for it.
const char* maker_of(byte_view address);

// Whether a 6-byte address is locally administered (the 0x02 bit of its
// first byte): one the client made up, as phones do by default, which no
// maker was given.
inline bool is_randomized(byte_view address) {
    return address.size() == 6 && (address.u8(0) & 0x02) != 0;
}

// Forgets the rules and the table: for tests.
void unload_names();

}  // namespace dhcpident
