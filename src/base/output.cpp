#include "base/output.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"

namespace dhcpident {
namespace {

int first_write_error;

void note(bool failed) {
    if (failed) note_write_failure();
}

}  // namespace

void note_write_failure() {
    if (first_write_error == 0) first_write_error = errno != 0 ? errno : EIO;
}

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
    say("Error: Unable to write the report: %s\n",
                 std::strerror(first_write_error != 0 ? first_write_error : EIO));
    return 1;
}

}  // namespace dhcpident
