// End-to-end runs of the real program: capture, arguments, expected stdout,
// stderr and exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <signal.h>


#include "capture_writer.h"
#include "frame_builder.h"
#include "e2e_fixture.h"
#include "program_runner.h"

namespace {

using namespace e2e;
using testkit::bytes;
using testkit::concat;
using testkit::dhcp_frame;
using testkit::option;

constexpr char no_drop[] = "Warning: Unable to drop privileges!\n";

bytes full_request(std::uint16_t tci, const char* host) {
    dhcp_frame f;
    f.vlan_tci = tci;
    f.options = concat({option(55, bytes{1, 3, 6, 15}), option(60, "udhcp 1.36"),
                        option(12, host), option(50, bytes{10, 0, 0, 7}),
                        testkit::relay_agent_option(100, 1, 5, {0x02, 0x10, 0x20, 0x30, 0x40, 0x50})});
    return build(f);
}

std::string report_for(const char* host) {
    return std::string("mac='00:1a:2b:3c:4d:5e'\nVLAN='100'\ndhcpvendor='udhcp 1.36'\n"
                       "fingerprint='1,3,6,15'\nhostname='") +
           host +
           "'\nreq_ipaddr='10.0.0.7'\n"
           "option82=remote_id 02:10:20:30:40:50 circuit_id vlan 100 unit 1 port 5\n\n";
}

class ProgramTest : public e2e::EndToEndTest {};

struct listed_case {
    const char* name;
    std::string capture;
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

TEST_F(ProgramTest, Listed) {
    dhcp_frame discover;
    discover.message_type = 1;
    dhcp_frame no_address;
    no_address.hlen = 0;
    dhcp_frame other;
    other.client[5] = 0x5f;
    const std::string usual = testkit::capture_of(
        {testkit::non_dhcp_frame(1), full_request(0x64, "first"), build(other), build(discover),
         full_request(0x64, "last"), testkit::non_dhcp_frame(2)});
    const listed_case cases[] = {
        {"last request reported", usual, {target}, report_for("last"), "", 0},
        {"extra arguments change nothing", usual, {target, "x", "y"}, report_for("last"), "", 0},
        {"no frames", testkit::capture_of({}), {target}, "", "", 0},
        {"no request from the target", usual, {"00:1a:2b:3c:4d:60"}, "", "", 0},
        {"upper-case target never matches", usual, {"00:1A:2B:3C:4D:5E"}, "", "", 0},
        {"empty target matches an empty address", testkit::capture_of({build(no_address)}), {""},
         "mac=''\n\ndhcpvendor=''\nfingerprint=''\n\n", "", 0},
        {"unknown link type warns in each pass", testkit::capture_of({build(other)}, 105), {target},
         "", "Warning: unable to find device link type!\nWarning: unable to find device link type!\n",
         0},
        {"raw IP capture", testkit::capture_of({build([] {
                                                   dhcp_frame f;
                                                   f.ethernet = false;
                                                   return f;
                                               }())},
                                               DLT_RAW),
         {target}, "mac='00:1a:2b:3c:4d:5e'\n\ndhcpvendor=''\nfingerprint=''\n\n", "", 0},
    };
    for (const listed_case& c : cases) {
        const program_result r = e2e::run_program(with_capture(c.capture, c.args));
        EXPECT_EQ(r.out, c.out) << c.name;
        EXPECT_EQ(r.err, c.err) << c.name;
        EXPECT_EQ(r.status, c.status) << c.name;
    }
}

TEST_F(ProgramTest, MissingCaptureFailsOnceWithLibpcapsText) {
    program_setup s;
    s.args = {target};
    const program_result r = e2e::run_program(s);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string(open_error) +
                         "/tmp/capfileall.pcap: No such file or directory\n");
    EXPECT_EQ(r.status, 1);
}

TEST_F(ProgramTest, PrivilegesAreDroppedBeforeEachOpen) {
    const std::string capture = testkit::capture_of({full_request(0x64, "h")});
    // Only root may read it: the open, as nobody, fails.
    program_setup owner_only = with_capture(capture);
    owner_only.capture_mode = 0600;
    program_result r = e2e::run_program(owner_only);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string(open_error) + "/tmp/capfileall.pcap: Permission denied\n");
    EXPECT_EQ(r.status, 1);

    // Readable by root's group: the groups are kept, so both passes read it.
    program_setup group_readable = with_capture(capture);
    group_readable.capture_mode = 0640;
    r = e2e::run_program(group_readable);
    EXPECT_EQ(r.out, report_for("h"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(ProgramTest, FailedDropWarnsInEachPassAndStillReports) {
    const std::string capture = testkit::capture_of({full_request(0x64, "h")});
    program_setup cannot_setuid = with_capture(capture);
    cannot_setuid.without_setuid_capability = true;
    program_setup no_account = with_capture(capture);
    no_account.passwd = "root:x:0:0:root:/root:/bin/sh\n";
    program_setup nobody_is_root = with_capture(capture);
    nobody_is_root.passwd = "root:x:0:0:root:/root:/bin/sh\nnobody:x:0:0::/:/bin/sh\n";
    for (const program_setup& s : {cannot_setuid, no_account, nobody_is_root}) {
        const program_result r = e2e::run_program(s);
        EXPECT_EQ(r.out, report_for("h"));
        EXPECT_EQ(r.err, std::string(no_drop) + no_drop);
        EXPECT_EQ(r.status, 0);
    }
}

// A capture whose second pass takes a while: the target's requests first,
// then many frames of other traffic.
std::string long_capture(std::size_t filler) {
    testkit::capture_writer writer;
    writer.add(full_request(0x64, "early"));
    const bytes frame = testkit::non_dhcp_frame(9);
    for (std::size_t i = 0; i < filler; ++i) writer.add(frame);
    return writer.finish();
}

class SignalTest : public ProgramTest, public testing::WithParamInterface<int> {};

TEST_P(SignalTest, SignalDuringTheSecondPassSummarisesBehindTheReport) {
    constexpr std::size_t filler = 400'000;
    static const std::string capture = long_capture(filler);
    static const std::string report = report_for("early");
    e2e::running_program program(with_capture(capture));
    program.wait_until_started();
    // Stopped once the report is out, early in the second pass.
    ASSERT_TRUE(program.pause_when(
        [](int, long long, const std::string& out, const void*) { return out == report; }, nullptr));
    program.send(GetParam());
    program.resume();
    const program_result r = program.finish();
    ASSERT_TRUE(r.out.size() > report_for("early").size());
    const std::string tail = r.out.substr(report_for("early").size());
    unsigned long processed = 0;
    char end[3] = "";
    ASSERT_EQ(std::sscanf(tail.c_str(), "\nSignal received. Shutdown.\nProcessed %lu DHCP requests.%2c",
                          &processed, end), 2) << tail;
    EXPECT_EQ(tail, "\nSignal received. Shutdown.\nProcessed " + std::to_string(processed) +
                        " DHCP requests.\n\n");
    EXPECT_GT(processed, filler);      // the whole first pass and the report
    EXPECT_LT(processed, 2 * filler + 1);  // the second pass did not finish
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

INSTANTIATE_TEST_SUITE_P(EachShutdownSignal, SignalTest, testing::Values(SIGHUP, SIGINT, SIGTERM));

TEST_F(ProgramTest, BundledSampleGivesItsExpectedReport) {
    const std::string capture = testkit::load(DHCPIDENT_SAMPLES "/sample.pcap");
    ASSERT_FALSE(capture.empty());
    const program_result r = e2e::run_program(with_capture(capture));
    EXPECT_EQ(r.out, testkit::load(DHCPIDENT_SAMPLES "/sample.expected"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
