// A strict JSON reader for the tests: the part of RFC 8259 the reports use
// (objects, strings, integers), strings checked to be valid UTF-8, nothing
// accepted that a strict parser would refuse. Valid JSON the reports never
// hold (arrays, literals, fractions, escapes other than \", \\ and
// \u00XX) is refused too, so the reader is only ever stricter.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace testkit {

struct json_value {
    enum kind_t { none, number, string, object } kind = none;
    std::string text;    // a string's decoded bytes (UTF-8), or a number's digits
    std::map<std::string, json_value> members;

    const json_value* find(const std::string& key) const {
        const auto it = members.find(key);
        return it == members.end() ? nullptr : &it->second;
    }
};

// The one value text holds, or nothing (with why in error) when text is not
// exactly one valid JSON value.
std::optional<json_value> read_json(const std::string& text, std::string* error = nullptr);

}  // namespace testkit
