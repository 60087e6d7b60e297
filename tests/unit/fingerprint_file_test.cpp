#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fingerprint/fingerprint.h"
#include "fingerprint/fingerprint_file.h"
#include "text/render.h"

namespace dhcpident {
namespace {

// Each test runs in a fresh directory of its own, since both files are
// opened by relative name, and starts with an empty table.
class FileTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dhcpident-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_NE(getcwd(old_dir_, sizeof old_dir_), nullptr);
        ASSERT_EQ(chdir(dir_.c_str()), 0);
        clear_table();
    }
    void TearDown() override {
        clear_table();
        std::remove(fingerprint_file_name);
        std::remove(vendor_prefix_file_name);
        EXPECT_EQ(chdir(old_dir_), 0);
        rmdir(dir_.c_str());
    }

    static void clear_table() { unload_fingerprint_rows(); }

    static void write(const char* name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }

    static std::string list_text(const char* list) {
        return std::string(list) == "*" ? "*" : decimal_list_text(list);
    }

    // The table as "ttl|codes|list|vendor|device" rows, codes in decimal.
    static std::vector<std::string> rows() {
        std::vector<std::string> out;
        for (std::size_t i = 0; i < fingerprint_count; ++i) {
            const fingerprint_entry& r = fingerprint_table[i];
            out.push_back(std::to_string(r.ttl_class) + "|" + list_text(r.option_list) + "|" +
                          list_text(r.request_list) + "|" + r.vendor_text + "|" + r.device_name);
        }
        return out;
    }

    std::string dir_;
    char old_dir_[4096];
};

struct load_case {
    const char* name;
    std::string file;
    std::vector<std::string> rows;
    std::string err;
};

TEST_F(FileTest, LoadsRowsLineByLine) {
    const std::string field255(255, 'v');
    const std::string long_line = "64|*|*|v|" + std::string(1010, 'd');  // 1019 characters
    const load_case cases[] = {
        {"comments and empty lines", "# comment\n! comment\n\n64|53,55|1,3,6|MSFT 5.0|Windows\n",
         {"64|53,55|1,3,6|MSFT 5.0|Windows"}, ""},
        {"wildcards and no vendor", "0|*|*|(null)|Any\n", {"0|*|*||Any"}, ""},
        {"empty pieces skipped, codes cut to 8 bits", "128|,53,,55,|1,259,3|v|d\n",
         {"128|53,55|1,3,3|v|d"}, ""},
        {"a code of 0 ends the list", "32|1,256,3|7,*,8|v|d\n", {"32|1|7|v|d"}, ""},
        {"ttl keeps its low 8 bits", "300|*|*|v|d\n", {"44|*|*|v|d"}, ""},
        // Past the range of int: the same class on every platform.
        {"ttl of any length", "4294967360|1|1|v|x\n", {"64|1|1|v|x"}, ""},
        {"signed ttl", " -1|*|*|v|d\n+7|*|*|v|e\n", {"255|*|*|v|d", "7|*|*|v|e"}, ""},
        {"CRLF line breaks", "64|*|*|v|Windows\r\n# c\r\n0|*|*|(null)|Any\r\n",
         {"64|*|*|v|Windows", "0|*|*||Any"}, ""},
        {"text behind the device name is ignored", "64|*|*|v|d|more\n", {"64|*|*|v|d"}, ""},
        {"fewer than five fields: refused, nothing carried over", "64|1|2|v|d\n64|*|*|w\n",
         {"64|1|2|v|d"}, "Error: Syntax mismatch on line 2 in vivaz.prints\n"},
        {"not a code list", "64|a|*|v|d\n", {}, "Error: Syntax mismatch on line 1 in vivaz.prints\n"},
        {"fields of 255 characters fit", "1|*|*|" + field255 + "|d\n", {"1|*|*|" + field255 + "|d"},
         ""},
        {"a longer field is refused", "1|*|*|" + field255 + "v|d\n", {},
         "Error: Syntax mismatch on line 1 in vivaz.prints\n"},
        {"a line past the bound is refused once, whole",
         "1|*|*|v|a\n" + long_line + "\nbad\n2|*|*|v|b\n", {"1|*|*|v|a", "2|*|*|v|b"},
         "Error: Syntax mismatch on line 2 in vivaz.prints\n"
         "Error: Syntax mismatch on line 3 in vivaz.prints\n"},
        {"last line without a line break", "5|*|*|v|first\n6|*|*|v|last", {"5|*|*|v|first", "6|*|*|v|last"},
         ""},
    };
    for (const load_case& c : cases) {
        clear_table();
        write(fingerprint_file_name, c.file);
        testing::internal::CaptureStderr();
        const std::uint16_t count = load_fingerprint_file();
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err) << c.name;
        EXPECT_EQ(count, c.rows.size()) << c.name;
        EXPECT_EQ(rows(), c.rows) << c.name;
    }
}

TEST_F(FileTest, ReadsAtMost2000LinesAndNeverMoreThan2000Rows) {
    std::string file;
    for (int i = 0; i < 1999; ++i) file += "#\n";
    file += "1|*|*|v|line 2000\n";
    write(fingerprint_file_name, file);
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_fingerprint_file(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // nothing left unread

    clear_table();
    write(fingerprint_file_name, file + "2|*|*|v|line 2001\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_fingerprint_file(), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: Only the first 2000 lines of vivaz.prints are read\n");

    // Rows already in the table stay; the file's are appended until full.
    clear_table();
    fingerprint_count = 1998;
    write(fingerprint_file_name, "1|*|*|v|a\n2|*|*|v|b\n3|*|*|v|c\n4|*|*|v|d\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_fingerprint_file(), 2000);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Warning: ", 0), 0u) << err;
    EXPECT_NE(err.find("vivaz.prints"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_STREQ(fingerprint_table[1999].device_name, "b");
    for (std::size_t i = 0; i < 1998; ++i) fingerprint_table[i] = {};
}

TEST_F(FileTest, MissingFileIsReportedAndAddsNothing) {
    fingerprint_count = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(load_fingerprint_file(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: Unable to open vivaz.prints - No such file or directory\n");
}

TEST_F(FileTest, VendorPrefix) {
    const std::uint8_t acme[] = {0x00, 0x1a, 0x2b, 0x3c}, apple[] = {0x3c, 0x22, 0xfb},
                       last[] = {0xaa, 0xbb, 0xcc}, lower[] = {0xde, 0xad, 0xbe},
                       none[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(lookup_vendor_prefix(acme, 4), nullptr);  // no file yet
    write(vendor_prefix_file_name,
          "deadbe lower case never matches\n001A2B Acme Corporation\n3C22FB\tApple\r\n"
          "AABBCC Last line");
    EXPECT_STREQ(lookup_vendor_prefix(acme, 4), "Acme Cor");
    EXPECT_STREQ(lookup_vendor_prefix(apple, 3), "Apple");
    EXPECT_STREQ(lookup_vendor_prefix(last, 3), "Last lin");
    EXPECT_EQ(lookup_vendor_prefix(lower, 3), nullptr);
    EXPECT_EQ(lookup_vendor_prefix(none, 3), nullptr);
    EXPECT_EQ(lookup_vendor_prefix(acme, 2), nullptr);
}

}  // namespace
}  // namespace dhcpident
