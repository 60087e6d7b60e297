#include "service/entry.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/diagnostics.h"
#include "common/standard_descriptors.h"
#include "service/capture_file.h"
#include "service/command_line.h"
#include "service/file_run.h"
#include "service/live_loop.h"

namespace dhcpident {

int run_dhcpident_capture(int argc, char** argv) {
    if (!ensure_standard_descriptors()) return 1;
    service_options options;
    if (const int status = read_service_options(argc, argv, options); status >= 0) return status;
    // A directory is no output, and is never replaced.
    struct stat status;
    if (fstatat(AT_FDCWD, options.output, &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        say_unable_to_write(options.output);
        return 1;
    }
    return options.input != nullptr ? run_from_file(options) : run_live(options);
}

}  // namespace dhcpident
