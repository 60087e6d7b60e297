// Filling the fingerprint table from a file, and naming a client's vendor
// from its address prefix. The program itself calls neither: they are for
// integrators who link the library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace dhcpident {

inline constexpr const char fingerprint_file_name[] = "vivaz.prints";
inline constexpr const char vendor_prefix_file_name[] = "oui";

// Appends the rows of "vivaz.prints" (in the working directory) behind those
// already in fingerprint_table and returns the row count. A line is
//   ttl|option codes|request list|vendor class|device name
// with the code lists as decimal codes joined by "," or "*" for any, and
// "(null)" for an empty vendor class. Lines starting with "#" or "!", and
// empty lines, are skipped. Problems are reported on stderr.
std::uint16_t load_fingerprint_file();

// Frees the rows' fields and empties the table: for a table whose every row
// the loader added.
void unload_fingerprint_rows();

// The same over an open stream; name is used in messages only.
std::uint16_t load_fingerprint_stream(std::FILE* file, const char* name);

// Decimal codes joined by "," into a zero-terminated byte string of their
// low 8 bits: empty pieces are skipped, a piece is read by its leading
// digits (none reads as 0), and a code of 0 ends the list. out holds at
// least strlen(text) + 1 bytes.
void parse_code_list(const char* text, char* out);

// The vendor name for the first three bytes of a hardware address, from the
// lines "AABBCC Vendor..." of the file "oui" (upper-case hex, then one
// character, then the name, of which eight characters are kept). Null when
// the file cannot be read, nothing matches or the address is shorter than
// three bytes. The text lives in one buffer that the next call overwrites.
const char* lookup_vendor_prefix(const std::uint8_t* address, std::size_t length);

}  // namespace dhcpident
