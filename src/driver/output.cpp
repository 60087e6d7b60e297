#include "driver/output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace dhcpident {
namespace {

// The reason of the first failed flush. glibc drops the buffer of a stream
// whose write failed, so a later flush succeeds and only ferror remembers;
// the reason has to be caught when it happens.
int first_write_error;

}  // namespace

void flush_output() {
    if (std::fflush(stdout) != 0 && first_write_error == 0) first_write_error = errno;
}

bool output_failed() {
    if (!std::ferror(stdout)) return false;
    if (first_write_error == 0) first_write_error = errno != 0 ? errno : EIO;
    return true;
}

int checked_exit_status(int status) {
    flush_output();
    if (first_write_error == 0 && !std::ferror(stdout)) return status;
    std::fprintf(stderr, "Error: Unable to write the report: %s\n",
                 std::strerror(first_write_error != 0 ? first_write_error : EIO));
    return 1;
}

}  // namespace dhcpident
