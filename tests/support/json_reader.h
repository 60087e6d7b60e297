// A strict JSON reader for the tests: RFC 8259 values, strings checked to
// be valid UTF-8, nothing accepted that a strict parser would refuse.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testkit {

struct json_value {
    enum kind_t { null, boolean, number, string, array, object } kind = null;
    bool flag = false;
    std::string text;    // a string's decoded bytes (UTF-8), or a number's digits
    std::vector<json_value> items;
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
