// End-to-end runs of the real program: capture, arguments, expected stdout,
// stderr and exit status.
#include <gtest/gtest.h>

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

std::string no_match(const std::string& mac) {
    return "Warning: " + mac + " matches no address: addresses are written in lower-case hex pairs "
           "joined by \":\", such as aa:bb:cc:dd:ee:ff\n";
}

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
    expect_rows({
        {"last request reported", with_capture(usual), report_for("last"), "", 0},
        {"extra arguments change nothing", with_capture(usual, {target, "x", "y"}), report_for("last"),
         "", 0},
        {"no frames", with_capture(testkit::capture_of({})), "", "", 0},
        {"no request from the target", with_capture(usual, {"00:1a:2b:3c:4d:60"}), "", "", 0},
        {"upper-case target never matches, and says why", with_capture(usual, {"00:1A:2B:3C:4D:5E"}),
         "", no_match("00:1A:2B:3C:4D:5E"), 0},
        {"nor a target without colons", with_capture(usual, {"001a2b3c4d5e"}), "",
         no_match("001a2b3c4d5e"), 0},
        {"empty target matches an empty address", with_capture(testkit::capture_of({build(no_address)}), {""}),
         "mac=''\n\ndhcpvendor=''\nfingerprint=''\n\n", "", 0},
        {"unknown link type warns in each pass", with_capture(testkit::capture_of({build(other)}, 105)),
         "", "Warning: unable to find device link type!\nWarning: unable to find device link type!\n",
         0},
        {"raw IP capture", with_capture(testkit::capture_of({build([] {
                                                   dhcp_frame f;
                                                   f.ethernet = false;
                                                   return f;
                                               }())},
                                               DLT_RAW)),
         "mac='00:1a:2b:3c:4d:5e'\n\ndhcpvendor=''\nfingerprint=''\n\n", "", 0},
    });
}

// Each pass opens the capture as nobody, with root's groups; a drop that
// cannot be made warns in each pass and the run goes on.
TEST_F(ProgramTest, PrivilegesAreDroppedBeforeEachOpen) {
    const std::string root_only = "root:x:0:0:root:/root:/bin/sh\n";
    const std::string capture = testkit::capture_of({full_request(0x64, "h")});
    expect_rows({
        {"only root may read it", {.args = {target}, .capture = capture, .capture_mode = 0600}, "",
         std::string(open_error) + "/tmp/capfileall.pcap: Permission denied\n", 1},
        {"root's group may read it", {.args = {target}, .capture = capture, .capture_mode = 0640}, report_for("h"), "", 0},
        {"no CAP_SETUID", {.args = {target}, .capture = capture, .without_setuid_capability = true}, report_for("h"),
         std::string(no_drop) + no_drop, 0},
        {"no account nobody", {.args = {target}, .capture = capture, .passwd = root_only}, report_for("h"),
         std::string(no_drop) + no_drop, 0},
        {"nobody is root", {.args = {target}, .capture = capture, .passwd = root_only + "nobody:x:0:0::/:/bin/sh\n"},
         report_for("h"), std::string(no_drop) + no_drop, 0},
    });
}

TEST_F(ProgramTest, BundledSampleGivesItsExpectedReport) {
    const std::string capture = testkit::load(DHCPIDENT_SAMPLES "/sample.pcap");
    ASSERT_FALSE(capture.empty());
    const program_result r = e2e::run_program(with_capture(capture));
    EXPECT_EQ(r.out, testkit::load(DHCPIDENT_SAMPLES "/sample.expected"));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

}  // namespace
