#include "service/entry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/standard_descriptors.h"
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
    if (lstat(options.output, &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fprintf(stderr, "Error: Unable to write %s: %s\n", options.output, std::strerror(EISDIR));
        return 1;
    }
    return options.input != nullptr ? run_from_file(options) : run_live(options);
}

}  // namespace dhcpident
