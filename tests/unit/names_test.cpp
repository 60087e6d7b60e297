// --names: rules over a request's keys, first match winning, the local
// file's first; and the maker table, searched where it lies, read the same
// on every machine (this suite runs under qemu-mips too).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "capture_writer.h"
#include "fingerprint/names.h"

namespace dhcpident {
namespace {

class NamesTest : public testing::Test {
protected:
    void TearDown() override { unload_names(); }

    // The warnings of add_device_rules over text.
    static std::string add(std::string text) {
        static std::vector<std::string> kept;  // the rules point into their text
        kept.push_back(std::move(text));
        testing::internal::CaptureStderr();
        add_device_rules(kept.back().data(), "rules");
        return testing::internal::GetCapturedStderr();
    }
    static std::string device(std::uint8_t ttl, const char* codes, const char* list, const char* vendor) {
        const char* name = device_of(ttl, codes, list, vendor);
        return name != nullptr ? name : "-";
    }
};

TEST_F(NamesTest, RulesMatchTheirKeysAndTheFirstWins) {
    EXPECT_EQ(add("# a comment\n\n"
                  "0|*|*|android-dhcp-*|Android %v\r\n"
                  "64|53,55|1,3|(null)|a phone with no vendor\n"
                  "0|*|1,3|exact|exact vendor\n"
                  "0|*|*|*|anything else\n"
                  "0|*|1|x|never: anything else comes first\n"
                  "1|*|*|*|bad ttl\n"
                  "0|*|1,,3|*|empty code\n"
                  "0|*|256|*|code past 255\n"
                  "0|*|0|*|code 0\n"
                  "0|*|1,|*|trailing comma\n"
                  "0|*|*|*\n"
                  "0|*|*|*||\n"
                  "0|*|*|*|\n"),
              "Warning: Skipping line 8 of rules: a TTL class is 0, 32, 64, 128 or 255\n"
              "Warning: Skipping line 9 of rules: a code list is \"*\" or codes from 1 to 255 joined by \",\"\n"
              "Warning: Skipping line 10 of rules: a code list is \"*\" or codes from 1 to 255 joined by \",\"\n"
              "Warning: Skipping line 11 of rules: a code list is \"*\" or codes from 1 to 255 joined by \",\"\n"
              "Warning: Skipping line 12 of rules: a code list is \"*\" or codes from 1 to 255 joined by \",\"\n"
              "Warning: Skipping line 13 of rules: not five fields joined by \"|\"\n"
              "Warning: Skipping line 14 of rules: not five fields joined by \"|\"\n"
              "Warning: Skipping line 15 of rules: a device name is 1 to 200 bytes\n");
    const struct {
        std::uint8_t ttl;
        const char *codes, *list, *vendor, *expected;
    } rows[] = {
        {64, "", "", "android-dhcp-13", "Android 13"},
        {64, "", "", "android-dhcp-8.1.0", "Android 8.1.0"},
        {64, "", "", "android-dhcp-9.", "Android 9"},
        {64, "", "", "android-dhcp-", "Android "},
        {64, "5\x37", "\x01\x03", "", "a phone with no vendor"},
        {128, "5\x37", "\x01\x03", "", "anything else"},  // another TTL class
        {64, "\x35\x37\x0c", "\x01\x03", "", "anything else"},  // another option order
        {32, "", "\x01\x03", "exact", "exact vendor"},
        {32, "", "\x01\x03", "exactly", "anything else"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(device(r.ttl, r.codes, r.list, r.vendor), r.expected) << r.vendor;
    }
    // A name of many versions is cut where the text ends.
    unload_names();
    std::string many;
    for (int i = 0; i < 100; ++i) many += "%v";
    EXPECT_EQ(add("0|*|*|v*|" + many + "\n"), "");
    EXPECT_EQ(device(64, "", "", ("v" + std::string(40, '9')).c_str()), std::string(255, '9'));
}

// The local file comes first: its rules override the shipped ones. A
// folder that is missing, a file cut short or no table at all: a warning,
// and nothing else lost.
TEST_F(NamesTest, TheLocalFileFirstAndEveryFailureSaid) {
    char dir[] = "/var/tmp/dhcpident-names.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string local = std::string(dir) + "/local", shipped = std::string(dir) + "/devices";
    const std::string makers = testkit::load(DHCPIDENT_NAMES_DIR "/makers");
    ASSERT_TRUE(testkit::save(local, "0|*|*|android-dhcp-*|my phone, Android %v\n"));
    ASSERT_TRUE(testkit::save(shipped, "0|*|*|android-dhcp-*|Android %v\n0|*|*|udhcp *|udhcpc\n"));
    ASSERT_TRUE(testkit::save(std::string(dir) + "/makers", makers.substr(0, makers.size() - 1)));
    testing::internal::CaptureStderr();
    load_names(dir, local.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: Unable to read " + std::string(dir) + "/makers: not a maker table, or cut short\n");
    EXPECT_EQ(device(64, "", "", "android-dhcp-14"), "my phone, Android 14");
    EXPECT_EQ(device(64, "", "", "udhcp 1.36.1"), "udhcpc");
    const std::uint8_t apple[] = {0x3c, 0x22, 0xfb, 1, 2, 3};
    EXPECT_EQ(maker_of(byte_view(apple, 6)), nullptr);
    unload_names();

    ASSERT_TRUE(testkit::save(std::string(dir) + "/makers", "DIMAKER1"));
    testing::internal::CaptureStderr();
    load_names("/nonexistent/names", local.c_str());
    load_names(dir, "/nonexistent/local");
    // A folder whose name leaves no room for its files' (slashes in front).
    const std::string long_dir = std::string(4090 - std::strlen(dir), '/') + dir;
    load_names(long_dir.c_str(), "/nonexistent/local");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: Unable to read /nonexistent/names: No such file or directory\n"
              "Warning: Unable to read " + std::string(dir) + "/makers: not a maker table, or cut short\n"
              "Warning: Unable to read " + long_dir + ": File name too long\n");
    EXPECT_TRUE(names_wanted());
    for (const char* name : {"local", "devices", "makers"}) unlink((std::string(dir) + "/" + name).c_str());
    rmdir(dir);
}

// Prefixes of the registry, MA-L and MA-M (inside a block of the
// Registration Authority's own, which names no maker), and what is none.
TEST_F(NamesTest, TheMakerTableNamesEveryRegisteredPrefix) {
    testing::internal::CaptureStderr();
    load_names(DHCPIDENT_NAMES_DIR, "/nonexistent/local");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    const struct {
        std::uint8_t address[6];
        const char* maker;
    } rows[] = {
        {{0x3c, 0x22, 0xfb, 0x01, 0x02, 0x03}, "Apple"},
        {{0x00, 0x24, 0xd7, 0xff, 0xff, 0xff}, "Intel"},
        {{0x44, 0xd9, 0xe7, 0x00, 0x00, 0x00}, "Ubiquiti"},
        {{0xb8, 0x27, 0xeb, 0x12, 0x34, 0x56}, "Raspberry Pi"},
        {{0x00, 0x00, 0x0f, 0x00, 0x00, 0x01}, "NEXT"},
        {{0x20, 0x85, 0x93, 0xb1, 0x22, 0x33}, "IOG"},       // MA-M 20-85-93-B
        {{0x20, 0x85, 0x93, 0xd0, 0x00, 0x00}, "Kenmyond"},  // MA-M 20-85-93-D
        {{0x20, 0x85, 0x93, 0xf0, 0x00, 0x00}, nullptr},     // the authority's own, not given out
        {{0xa0, 0xa0, 0xa0, 0x00, 0x00, 0x00}, nullptr},         // not registered
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff}, nullptr},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, "Xerox"},
    };
    for (const auto& r : rows) {
        const char* maker = maker_of(byte_view(r.address, 6));
        EXPECT_EQ(maker != nullptr ? std::string(maker) : "-", r.maker != nullptr ? r.maker : "-")
            << int{r.address[0]} << " " << int{r.address[3]};
    }
    EXPECT_TRUE(is_randomized(byte_view(rows[0].address, 6)) == false);
    const std::uint8_t made_up[] = {0xda, 0xa1, 0x19, 0, 0, 1};
    EXPECT_TRUE(is_randomized(byte_view(made_up, 6)));
    EXPECT_FALSE(is_randomized(byte_view(made_up, 5)));
}

}  // namespace
}  // namespace dhcpident
