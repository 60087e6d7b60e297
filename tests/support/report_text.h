// Reading the program's JSON reports back: the decoded values as the text
// report writes them.
#pragma once

#include <string>

#include "json_reader.h"

namespace testkit {

// A value as the program wrote it: the decoded JSON string with its two
// escapes undone (a doubled backslash is one, \xNN is that byte).
std::string raw_value(const std::string& decoded);

// The text report block that carries the same values as the JSON object
// report; empty when report has a member the text report has no line for.
std::string text_of_json_report(const json_value& report);

}  // namespace testkit
