// stdout carries the report and the summary, and everything the program
// writes there goes through these functions. They keep the reason of the
// first write that failed, taken at the failing call itself, since glibc
// drops the buffer of a stream whose write failed (a later flush then
// succeeds) and errno is anyone's by the time a caller asks. A report that
// could not be written whole must not end in status 0.
#pragma once

#include <cstddef>
#include <cstdio>

namespace dhcpident {

// Keeps errno as the reason, unless an earlier failure's is kept. Called
// right after the failing call.
void note_write_failure();

// Inline, so that a literal's length is known where it is written.
inline void out_text(const char* text) {
    if (std::fputs(text, stdout) == EOF) note_write_failure();
}
inline void out_bytes(const char* bytes, std::size_t count) {
    if (std::fwrite(bytes, 1, count, stdout) != count) note_write_failure();
}
inline void out_char(char c) {
    if (std::putc(static_cast<unsigned char>(c), stdout) == EOF) note_write_failure();
}
void out_format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Flushes stdout.
void flush_output();

// True once a write to stdout has failed.
bool output_failed();

// At exit: flushes stdout once more. When any of its output was lost,
// writes "Error: Unable to write the report: REASON" to stderr and returns
// 1; otherwise returns status.
int checked_exit_status(int status);

}  // namespace dhcpident
