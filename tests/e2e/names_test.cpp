// dhcpident --names, the real program on the data the build makes: each
// family of clients a row, its request as the client sends it, with the
// device and maker the report must name; then the JSON form, what cannot
// be read, and names that must be escaped.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "capture_writer.h"
#include "e2e_fixture.h"
#include "frame_builder.h"
#include "program_runner.h"

namespace {

using namespace e2e;
using testkit::bytes;
using testkit::option;

const std::string names = std::string("--names=") + DHCPIDENT_NAMES_DIR;

// A request as a client sends it: its address, parameter request list and
// vendor class (none when empty).
bytes request(testkit::mac_address mac, bytes list, const std::string& vendor = "") {
    testkit::dhcp_frame f;
    f.client = mac;
    f.options = option(55, list);
    if (!vendor.empty()) f.options = testkit::concat({f.options, option(60, vendor)});
    return build(f);
}

std::string mac_text(const testkit::mac_address& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    return text;
}

class NamesTest : public EndToEndTest {};

// In the program's namespace, the data installed where the package puts
// it: one rule that names every client.
bool install_names() {
    static const char rule[] = "0|*|*|*|installed\n";
    if (mount("dhcpident-test", "/usr/share", "tmpfs", 0, "mode=755") != 0 ||
        mkdir("/usr/share/dhcpident", 0755) != 0) {
        return false;
    }
    const int fd = open("/usr/share/dhcpident/devices", O_WRONLY | O_CREAT | O_EXCL, 0644);
    const bool written = fd >= 0 && write(fd, rule, sizeof rule - 1) == sizeof rule - 1;
    return close(fd) == 0 && written;
}

// Installed, the data changes no report without --names, byte for byte,
// and is what --names without a folder reads.
TEST_F(NamesTest, InstalledDataIsReadOnlyWithNames) {
    const std::string capture = testkit::capture_of({request({0x3c, 0x22, 0xfb, 1, 2, 3}, {1, 3}, "vendor")});
    const std::vector<std::string> runs[] = {{"3c:22:fb:01:02:03"}, {"--all"}, {"--json", "--all"}};
    for (const std::vector<std::string>& args : runs) {
        program_setup installed = with_capture(capture, args);
        installed.arrange = install_names;
        const program_result plain = run_program(with_capture(capture, args)), read = run_program(installed);
        EXPECT_EQ(read.out, plain.out) << args[0];
        EXPECT_EQ(read.err, plain.err) << args[0];
        EXPECT_EQ(read.status, plain.status) << args[0];
    }
    program_setup named = with_capture(capture, {"--names", "3c:22:fb:01:02:03"});
    named.arrange = install_names;
    expect_rows({{"--names", named, "mac='3c:22:fb:01:02:03'\n\ndhcpvendor='vendor'\nfingerprint='1,3'\n"
                                    "device='installed'\n\n",
                  "Warning: Unable to read /usr/share/dhcpident/makers: No such file or directory\n", 0}});
}

TEST_F(NamesTest, EachFamilyOfClientsIsNamed) {
    const testkit::mac_address apple{0x3c, 0x22, 0xfb, 1, 2, 3}, samsung{0x00, 0x12, 0xfb, 1, 2, 3},
        intel{0x00, 0x24, 0xd7, 1, 2, 3}, sony{0x00, 0xd9, 0xd1, 1, 2, 3}, pi{0xb8, 0x27, 0xeb, 1, 2, 3},
        microsoft{0x28, 0x18, 0x78, 1, 2, 3}, randomized{0xda, 0xa1, 0x19, 1, 2, 3};
    const bytes android{1, 3, 6, 15, 26, 28, 51, 58, 59, 43, 114, 108};
    struct row {
        const char* family;
        bytes frame;
        std::string device, maker;  // empty: no such line
    } rows[] = {
        {"Android 6", request(samsung, {1, 3, 6, 15, 26, 28, 51, 58, 59, 43}, "android-dhcp-6.0.1"),
         "Android 6.0.1", "Samsung"},
        {"Android 7", request(samsung, android, "android-dhcp-7.1.2"), "Android 7.1.2", "Samsung"},
        {"Android 8", request(samsung, android, "android-dhcp-8.0.0"), "Android 8.0.0", "Samsung"},
        {"Android 9", request(samsung, android, "android-dhcp-9"), "Android 9", "Samsung"},
        {"Android 10", request(randomized, android, "android-dhcp-10"), "Android 10", "randomized address"},
        {"Android 11", request(randomized, android, "android-dhcp-11"), "Android 11", "randomized address"},
        {"Android 12", request(randomized, android, "android-dhcp-12"), "Android 12", "randomized address"},
        {"Android 13", request(randomized, android, "android-dhcp-13"), "Android 13", "randomized address"},
        {"Android 14", request(randomized, android, "android-dhcp-14"), "Android 14", "randomized address"},
        {"Android 15", request(randomized, android, "android-dhcp-15"), "Android 15", "randomized address"},
        {"Android 16", request(randomized, android, "android-dhcp-16"), "Android 16", "randomized address"},
        {"Windows 10/11", request(intel, {1, 3, 6, 15, 31, 33, 43, 44, 46, 47, 119, 121, 249, 252}, "MSFT 5.0"),
         "Windows 10/11 or Xbox", "Intel"},
        {"Xbox", request(microsoft, {1, 3, 6, 15, 31, 33, 43, 44, 46, 47, 119, 121, 249, 252}, "MSFT 5.0"),
         "Windows 10/11 or Xbox", "Microsoft"},
        {"Windows 7", request(intel, {1, 15, 3, 6, 44, 46, 47, 31, 33, 121, 249, 43}, "MSFT 5.0"), "Windows 7",
         "Intel"},
        {"iPhone", request(randomized, {1, 121, 3, 6, 15, 108, 114, 119, 252}), "Apple iOS/iPadOS",
         "randomized address"},
        {"an older iPhone", request(apple, {1, 121, 3, 6, 15, 119, 252}), "Apple iOS/iPadOS", "Apple"},
        {"Mac", request(apple, {1, 121, 3, 6, 15, 108, 114, 119, 252, 95, 44, 46}), "Apple macOS", "Apple"},
        {"ChromeOS", request(intel, {1, 3, 6, 15, 26, 28, 51, 58, 59, 121}, "chromeos"), "ChromeOS", "Intel"},
        {"PlayStation 4/5", request(sony, {1, 3, 6, 15, 28, 33}), "PlayStation 4/5", "Sony Interactive"},
        {"PlayStation 3", request(sony, {1, 3, 15, 6}), "PlayStation 3", "Sony Interactive"},
        {"BusyBox udhcpc", request(pi, {1, 3, 6, 12, 15, 28, 42}, "udhcp 1.36.1"), "BusyBox udhcpc 1.36.1",
         "Raspberry Pi"},
        {"dhcpcd", request(pi, {1, 121, 33, 3, 6, 12, 15, 26, 28, 51, 54, 58, 59, 119},
                           "dhcpcd-9.4.1:Linux-6.1.21-v8+:aarch64:BCM2835"),
         "dhcpcd 9.4.1 (Linux or BSD)", "Raspberry Pi"},
        {"ipconfig", request(intel, {1, 3, 6, 12, 15, 17, 26, 28, 40, 41, 42}, "Linux ipconfig"),
         "Linux ipconfig (kernel or klibc, at boot)", "Intel"},
        {"ISC dhclient", request(intel, {1, 28, 2, 3, 15, 6, 119, 12, 44, 47, 26, 121, 42}),
         "Linux (ISC dhclient)", "Intel"},
        {"systemd-networkd", request(intel, {1, 3, 6, 12, 15, 33, 42, 120, 121, 249}),
         "Linux (systemd-networkd)", "Intel"},
        {"NetworkManager", request(intel, {1, 2, 3, 6, 12, 15, 26, 28, 33, 40, 41, 42, 119, 121, 249, 252}),
         "Linux (NetworkManager)", "Intel"},
        {"an unknown list, an unregistered prefix", request({0xa0, 0xa0, 0xa0, 1, 2, 3}, {1, 3}), "", ""},
    };
    for (const row& r : rows) {
        testkit::mac_address mac;
        std::copy(r.frame.begin() + 14 + 20 + 8 + 28, r.frame.begin() + 14 + 20 + 8 + 28 + 6, mac.begin());
        const std::string capture = testkit::capture_of({r.frame});
        const program_result plain = run_program(with_capture(capture, {mac_text(mac)}));
        const program_result named = run_program(with_capture(capture, {names, mac_text(mac)}));
        // The report without names, with the lines of the names after
        // the fingerprint.
        std::string expected = plain.out;
        const std::size_t after = expected.find('\n', expected.find("fingerprint='")) + 1;
        expected.insert(after, (r.device.empty() ? "" : "device='" + r.device + "'\n") +
                                   (r.maker.empty() ? "" : "maker='" + r.maker + "'\n"));
        EXPECT_EQ(named.out, expected) << r.family;
        EXPECT_EQ(named.err, "") << r.family;
        EXPECT_EQ(named.status, 0) << r.family;
    }
}

// JSON carries the same, a made-up address flagged; names from a folder of
// the test's own that must be escaped; a folder missing, a rule malformed.
TEST_F(NamesTest, JsonEscapingAndWhatCannotBeRead) {
    const std::string dir = "/var/tmp/dhcpident-e2e-names." + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(testkit::save(dir + "/devices", "0|*|*|quoted*|a 'quoted' \"name\" \\ \x01 \xff here\n"
                                                "not a rule\n"));
    const testkit::mac_address made_up{0xda, 0xa1, 0x19, 1, 2, 3};
    const std::string android = testkit::capture_of({request(made_up, {1, 3}, "android-dhcp-13")});
    const std::string quoted = testkit::capture_of({request({0x3c, 0x22, 0xfb, 1, 2, 3}, {1, 3}, "quoted")});
    const std::string missing = dir + "/makers: No such file or directory\n";
    expect_rows({
        {"JSON", with_capture(android, {"--json", names, "da:a1:19:01:02:03"}),
         "{\"mac\":\"da:a1:19:01:02:03\",\"dhcpvendor\":\"android-dhcp-13\",\"fingerprint\":\"1,3\","
         "\"device\":\"Android 13\",\"maker\":\"randomized address\",\"randomized\":true}\n",
         "", 0},
        {"escaped in JSON", with_capture(quoted, {"--json", "--names=" + dir, "3c:22:fb:01:02:03"}),
         "{\"mac\":\"3c:22:fb:01:02:03\",\"dhcpvendor\":\"quoted\",\"fingerprint\":\"1,3\","
         "\"device\":\"a 'quoted' \\\"name\\\" \\\\\\\\ \\u0001 \\\\xff here\"}\n",
         "Warning: Skipping line 2 of " + dir + "/devices: not five fields joined by \"|\"\n"
         "Warning: Unable to read " + missing, 0},
        {"as they are in text", with_capture(quoted, {"--names=" + dir, "3c:22:fb:01:02:03"}),
         "mac='3c:22:fb:01:02:03'\n\ndhcpvendor='quoted'\nfingerprint='1,3'\n"
         "device='a 'quoted' \"name\" \\ \x01 \xff here'\n\n",
         "Warning: Skipping line 2 of " + dir + "/devices: not five fields joined by \"|\"\n"
         "Warning: Unable to read " + missing, 0},
        {"a folder missing", with_capture(android, {"--names=/nonexistent", "--all"}),
         "mac='da:a1:19:01:02:03'\n\ndhcpvendor='android-dhcp-13'\nfingerprint='1,3'\n"
         "maker='randomized address'\n\n",
         "Warning: Unable to read /nonexistent: No such file or directory\n", 0},
    });
    std::filesystem::remove_all(dir);
}

}  // namespace
