// A service's diagnostics never wait for stderr: on a pipe held full,
// lines wait in a buffer or are counted as lost, and once the pipe is read
// again they come out whole, in order, with the count of those lost.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "base/diagnostics.h"

namespace dhcpident {
namespace {

std::string drain(int fd) {
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) got.append(buffer, static_cast<std::size_t>(n));
    return got;
}

TEST(DiagnosticsTest, AFullPipeDelaysLinesOrCountsThemButNeverWaits) {
    int result[2];
    ASSERT_EQ(pipe(result), 0);
    const pid_t child = fork();
    if (child == 0) {
        // In a process of its own: the mode lasts for the process.
        int err[2];
        if (pipe2(err, O_NONBLOCK) != 0 || dup2(err[1], 2) < 0) _exit(2);
        static const char filler[4096] = {};
        while (write(err[1], filler, sizeof filler) > 0) {
        }
        never_wait_for_diagnostics();
        alarm(10);  // a line that waited would end the child here
        for (int i = 0; i < 100; ++i) say("Warning: line %02d, which stderr cannot take now\n", i);
        const bool flushed_while_full = flush_diagnostics();
        drain(err[0]);  // the filler
        const bool flushed = flush_diagnostics();
        const std::string out = std::string(flushed_while_full ? "?" : "") + (flushed ? "" : "!") + drain(err[0]);
        (void)!write(result[1], out.data(), out.size());
        _exit(0);
    }
    close(result[1]);
    const std::string out = drain(result[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    // The buffer holds the first lines; the rest are counted.
    std::string expected;
    int kept = 0;
    for (; expected.size() + 50 <= 4096; ++kept) {
        char line[64];
        std::snprintf(line, sizeof line, "Warning: line %02d, which stderr cannot take now\n", kept);
        expected += line;
    }
    expected += "Warning: " + std::to_string(100 - kept) + " lines of diagnostics lost: stderr was not read\n";
    EXPECT_EQ(out, expected);
}

}  // namespace
}  // namespace dhcpident
