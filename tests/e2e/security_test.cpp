// Started as root, the program reads a fixed path in a /tmp that every
// local user can write, and writes a report that scripts trust. Here the
// path holds what another user placed there, and stdout is where a report
// gets lost: the program refuses, or says so, and never hangs.
#include <gtest/gtest.h>

#include <signal.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture_writer.h"
#include "e2e_fixture.h"
#include "frame_builder.h"
#include "program_runner.h"

namespace {

using namespace e2e;

constexpr char path[] = "/tmp/capfileall.pcap";
constexpr char moved_capture[] = "/tmp/.capture";
constexpr uid_t user = 65534;  // the one who placed it

std::string request_capture() { return testkit::capture_of({build(testkit::dhcp_frame{})}); }
constexpr char request_report[] = "mac='00:1a:2b:3c:4d:5e'\n\ndhcpvendor=''\nfingerprint=''\n\n";

// What a local user places at the path, once the capture written there is
// moved aside. System calls only: these run in the child between fork and
// exec.
bool vacate() { return rename(path, moved_capture) == 0; }
bool user_fifo() { return vacate() && mkfifo(path, 0644) == 0 && lchown(path, user, user) == 0; }
bool user_fifo_with_silent_writer() {
    if (!user_fifo()) return false;
    const pid_t writer = fork();
    if (writer == 0) {
        // Nothing of the runner's stays open here: it waits for its pipes to close.
        for (int fd = 0; fd < 1024; ++fd) close(fd);
        // Read-write never blocks on a FIFO: a writer that writes nothing.
        if (setresuid(user, user, user) == 0 && open(path, O_RDWR) >= 0) sleep(3);
        _exit(0);
    }
    return writer > 0;
}
bool user_directory() { return vacate() && mkdir(path, 0755) == 0 && chown(path, user, user) == 0; }
bool capture_behind_link() { return vacate() && symlink(moved_capture, path) == 0; }
bool capture_behind_user_link() { return capture_behind_link() && lchown(path, user, user) == 0; }
bool root_link_to_zero() { return vacate() && symlink("/dev/zero", path) == 0; }
bool user_link_to_zero() { return root_link_to_zero() && lchown(path, user, user) == 0; }

class SecurityTest : public EndToEndTest {};

TEST_F(SecurityTest, WhatOthersPlaceAtThePathIsRefusedWithoutBlocking) {
    const std::string refused = std::string(open_error) + path + ": ";
    // A blocked open would end at the time limit, killed.
    auto placed = [](bool (*arrange)(), mode_t capture_mode = 0644) {
        return program_setup{.args = {target}, .capture = request_capture(),
                             .capture_mode = capture_mode, .arrange = arrange,
                             .time_limit_seconds = 10};
    };
    const std::string user_link = refused + "a symbolic link not owned by root\n";
    expect_rows({
        {"FIFO without a writer", placed(user_fifo), "", refused + "a FIFO, not a regular file\n", 1},
        {"FIFO whose writer never writes", placed(user_fifo_with_silent_writer), "",
         refused + "a FIFO, not a regular file\n", 1},
        {"directory", placed(user_directory), "", refused + "a directory, not a regular file\n", 1},
        {"user's link to a capture only root may read", placed(capture_behind_user_link, 0600), "",
         user_link, 1},
        {"user's link to a capture root's group may read", placed(capture_behind_user_link, 0640), "",
         user_link, 1},
        {"user's link to /dev/zero", placed(user_link_to_zero), "", user_link, 1},
        {"root's link to /dev/zero", placed(root_link_to_zero), "",
         refused + "a character device, not a regular file\n", 1},
        {"nothing at all: libpcap's own text", placed(vacate), "",
         refused + "No such file or directory\n", 1},
        {"root's own link to a capture is followed", placed(capture_behind_link), request_report, "", 0},
    });
}

TEST_F(SecurityTest, AReportThatCannotBeWrittenIsAFailure) {
    testkit::capture_writer many_clients;
    for (std::uint8_t n = 0; n < 200; ++n) {
        testkit::dhcp_frame f;
        f.client[5] = n;
        many_clients.add(build(f));
    }
    const std::string many = many_clients.finish();
    auto to = [&](output_to out, std::vector<std::string> args = {target}) {
        return program_setup{.args = args, .capture = args[0] == "--all" ? many : request_capture(),
                             .out = out};
    };
    const std::string full = "Error: Unable to write the report: No space left on device\n";
    const std::string gone = "Error: Unable to write the report: Broken pipe\n";
    expect_rows({
        {"stdout on /dev/full", to(output_to::full_device), "", full, 1},
        {"stdout on /dev/full, nothing to report", to(output_to::full_device, {"00:00:00:00:00:01"}),
         "", "", 0},
        {"reader gone, SIGPIPE ignored", to(output_to::reader_gone), "", gone, 1},
        // As a shell tool ends in "| head": by SIGPIPE, silently, never 0.
        {"reader gone", to(output_to::reader_left), "", "", 128 + SIGPIPE},
        // The capture must not be opened as descriptor 1, where the report
        // would then be written into it and fail.
        {"stdout closed at start", to(output_to::closed), "", "", 0},
        // Reports of many clients, written while the stdio buffer fills.
        {"--all on /dev/full", to(output_to::full_device, {"--all"}), "", full, 1},
        {"--all, reader gone", to(output_to::reader_gone, {"--all", "--json"}), "", gone, 1},
        {"--all, reader gone, SIGPIPE at its default", to(output_to::reader_left, {"--all", "--json"}),
         "", "", 128 + SIGPIPE},
    });
}

}  // namespace
