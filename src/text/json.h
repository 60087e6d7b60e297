// JSON text for the report: one object a line, for scripts that must not
// evaluate what a network client sent.
#pragma once

namespace dhcpident {

// Writes text (zero-terminated, any bytes) to stdout as a JSON string, quotes
// included. The result is valid JSON and valid UTF-8 whatever the bytes:
// - a quote, and control characters, are escaped as JSON requires;
// - valid UTF-8 is written as it is;
// - a byte that is not part of valid UTF-8 becomes the four characters
//   \xNN (lower-case hex) in the decoded string, as Zeek writes them;
// - so that this stays unambiguous, a backslash of the value itself is
//   doubled in the decoded string.
// Printable ASCII and valid UTF-8 without a backslash therefore decode to
// exactly the value's bytes.
void put_json_string(const char* text);

}  // namespace dhcpident
