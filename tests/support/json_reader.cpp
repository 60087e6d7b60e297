#include "json_reader.h"

namespace testkit {
namespace {

class reader {
public:
    explicit reader(const std::string& text) : text_(text) {}

    bool value(json_value& out, int depth = 0) {
        if (depth > 64) return fail("nested too deep");
        skip_space();
        if (at_ >= text_.size()) return fail("value expected");
        const char c = text_[at_];
        if (c == '{') return object(out, depth);
        if (c == '"') {
            out.kind = json_value::string;
            return string(out.text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return number(out);
        return fail("unexpected character");
    }

    bool end() {
        skip_space();
        return at_ == text_.size() || fail("text after the value");
    }

    std::string error;

private:
    bool fail(const char* why) {
        if (error.empty()) error = std::string(why) + " at byte " + std::to_string(at_);
        return false;
    }

    void skip_space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    bool expect(char c) {
        skip_space();
        if (at_ < text_.size() && text_[at_] == c) return ++at_, true;
        return fail("punctuation expected");
    }

    bool object(json_value& out, int depth) {
        out.kind = json_value::object;
        ++at_;
        skip_space();
        if (at_ < text_.size() && text_[at_] == '}') return ++at_, true;
        while (true) {
            skip_space();
            std::string key;
            if (at_ >= text_.size() || text_[at_] != '"' || !string(key)) return fail("key expected");
            if (out.members.count(key) != 0) return fail("duplicate key");
            if (!expect(':') || !value(out.members[key], depth + 1)) return false;
            skip_space();
            if (at_ < text_.size() && text_[at_] == ',') {
                ++at_;
                continue;
            }
            return expect('}');
        }
    }

    bool number(json_value& out) {
        out.kind = json_value::number;
        const std::size_t start = at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            return at_ > from;
        };
        if (text_[at_] == '-') ++at_;
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else if (!digits()) {
            return fail("digits expected");
        }
        out.text = text_.substr(start, at_ - start);
        return true;
    }

    bool hex4(unsigned& out) {
        out = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            if (at_ >= text_.size()) return fail("\\u needs four hex digits");
            const char c = text_[at_];
            const int v = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (v < 0) return fail("\\u needs four hex digits");
            out = out << 4 | static_cast<unsigned>(v);
        }
        return true;
    }

    // Raw bytes of a string must be valid UTF-8: the same rules a strict
    // decoder applies (no overlong forms, no surrogates, at most U+10FFFF).
    bool utf8(std::string& out) {
        const auto lead = static_cast<unsigned char>(text_[at_]);
        int length;
        unsigned char low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return fail("invalid UTF-8");
        }
        if (at_ + static_cast<std::size_t>(length) > text_.size()) return fail("cut UTF-8");
        for (int i = 1; i < length; ++i) {
            const auto c = static_cast<unsigned char>(text_[at_ + static_cast<std::size_t>(i)]);
            if (i == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) return fail("invalid UTF-8");
        }
        out.append(text_, at_, static_cast<std::size_t>(length));
        at_ += static_cast<std::size_t>(length);
        return true;
    }

    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (true) {
            if (at_ >= text_.size()) return fail("unterminated string");
            const auto c = static_cast<unsigned char>(text_[at_]);
            if (c == '"') return ++at_, true;
            if (c < 0x20) return fail("control character in a string");
            if (c >= 0x80) {
                if (!utf8(out)) return false;
                continue;
            }
            ++at_;
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) return fail("cut escape");
            const char e = text_[at_++];
            if (e == '"' || e == '\\') {
                out += e;
                continue;
            }
            unsigned code;
            if (e != 'u' || !hex4(code) || code >= 0x80) return fail("an escape the reports do not use");
            out += static_cast<char>(code);
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

std::optional<json_value> read_json(const std::string& text, std::string* error) {
    reader r(text);
    json_value out;
    if (r.value(out) && r.end()) return out;
    if (error != nullptr) *error = r.error;
    return std::nullopt;
}

}  // namespace testkit
