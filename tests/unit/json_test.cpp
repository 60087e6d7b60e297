// JSON strings of any bytes: valid JSON and valid UTF-8, and distinct values
// stay distinct.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "json_reader.h"
#include "report_text.h"
#include "text/json.h"

namespace dhcpident {
namespace {

std::string json_of(const std::string& value) {
    testing::internal::CaptureStdout();
    put_json_string(value.c_str());
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(JsonTest, StringsAreEscapedOneDocumentedWay) {
    const std::pair<std::string, std::string> rows[] = {
        {"Pixel-7", R"j("Pixel-7")j"},
        {"", R"j("")j"},
        {"a'b", R"j("a'b")j"},
        {"say \"hi\"", R"j("say \"hi\"")j"},
        {"$(reboot)", R"j("$(reboot)")j"},
        {"line\nbreak\ttab\r", R"j("line\u000abreak\u0009tab\u000d")j"},
        {"\x01\x1f\x7f", R"j("\u0001\u001f\u007f")j"},
        {"back\\slash", R"j("back\\\\slash")j"},  // decodes to back\\slash
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
        {"\xff\xfe", R"j("\\xff\\xfe")j"},           // no UTF-8 at all
        {"\xc3", R"j("\\xc3")j"},                    // a sequence cut short
        {"\xc0\xaf", R"j("\\xc0\\xaf")j"},           // overlong "/"
        {"\xed\xa0\x80", R"j("\\xed\\xa0\\x80")j"},  // a surrogate
        {"\xf4\x90\x80\x80", R"j("\\xf4\\x90\\x80\\x80")j"},  // above U+10FFFF
        {"\xe2\x82x", R"j("\\xe2\\x82x")j"},
    };
    for (const auto& [value, json] : rows) EXPECT_EQ(json_of(value), json) << value;
}

// Any NUL-free bytes: the text parses strictly, and undoing the two escapes
// gives the value back, so two values never share a text. Valid UTF-8
// without a backslash decodes to the value itself.
TEST(JsonTest, AnyBytesGiveValidJsonThatGivesThemBack) {
    std::mt19937 random(20261208);
    const std::string pieces[] = {"a", "\\", "\"", "\n", "\x01", "\x7f", "\xc3\xa9", "\xe2\x82\xac",
                                  "\xf0\x9f\x98\x80", "\xc3", "\xff", "\x80", "\xed\xa0\x80", "x"};
    for (int round = 0; round < 3000; ++round) {
        std::string value;
        const int length = static_cast<int>(random() % 12);
        for (int i = 0; i < length; ++i) {
            if (random() % 3 == 0) {
                value += static_cast<char>(1 + random() % 255);
            } else {
                value += pieces[random() % std::size(pieces)];
            }
        }
        std::string error;
        const auto parsed = testkit::read_json(json_of(value), &error);
        ASSERT_TRUE(parsed.has_value()) << error << ": " << json_of(value);
        EXPECT_EQ(testkit::raw_value(parsed->text), value) << json_of(value);
    }
    EXPECT_EQ(testkit::read_json(json_of("caf\xc3\xa9 \xe2\x82\xac"))->text, "caf\xc3\xa9 \xe2\x82\xac");
}

}  // namespace
}  // namespace dhcpident
