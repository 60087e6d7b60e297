#include "driver/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace dhcpident {
namespace {

int first_write_error;

// After a call that wrote to stdout: a failure keeps its errno, set by the
// write that failed, unless an earlier one was kept.
void note(bool failed) {
    if (failed && first_write_error == 0) first_write_error = errno != 0 ? errno : EIO;
}

}  // namespace

void out_text(const char* text) { note(std::fputs(text, stdout) == EOF); }

void out_bytes(const char* bytes, std::size_t count) {
    note(std::fwrite(bytes, 1, count, stdout) != count);
}

void out_char(char c) { note(std::putc(static_cast<unsigned char>(c), stdout) == EOF); }

void out_format(const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    note(std::vfprintf(stdout, format, arguments) < 0);
    va_end(arguments);
}

void flush_output() { note(std::fflush(stdout) != 0); }

bool output_failed() { return first_write_error != 0 || std::ferror(stdout); }

int checked_exit_status(int status) {
    flush_output();
    if (!output_failed()) return status;
    std::fprintf(stderr, "Error: Unable to write the report: %s\n",
                 std::strerror(first_write_error != 0 ? first_write_error : EIO));
    return 1;
}

}  // namespace dhcpident
