#include "json_reader.h"

#include <set>
#include <string_view>

namespace granulix::cli {

namespace {

constexpr int kDeepest = 64;

class Parser {
public:
    explicit Parser(const std::string& text) : text_(text) {}

    JsonValue document() {
        JsonValue v = value(0);
        skipSpace();
        if (at_ < text_.size()) fail("text after the end of the JSON value");
        return v;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        int line = 1;
        for (std::size_t i = 0; i < at_ && i < text_.size(); ++i) line += text_[i] == '\n';
        throw JsonError(line, what);
    }

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    char peek() {
        skipSpace();
        if (at_ >= text_.size()) fail("the JSON ends too soon");
        return text_[at_];
    }

    void expect(char c) {
        if (peek() != c) fail(std::string("expected '") + c + "'");
        ++at_;
    }

    bool word(const char* w) {
        const std::string_view rest(text_.data() + at_, text_.size() - at_);
        const std::string_view wanted(w);
        if (rest.substr(0, wanted.size()) != wanted) return false;
        at_ += wanted.size();
        return true;
    }

    JsonValue value(int depth) {
        const char c = peek();
        JsonValue v;
        if (c == '{' || c == '[') {
            if (depth >= kDeepest) fail("the JSON nests too deeply");
            ++at_;
            const char close = c == '{' ? '}' : ']';
            v.kind = c == '{' ? JsonValue::Kind::kObject : JsonValue::Kind::kArray;
            if (peek() == close) {
                ++at_;
                return v;
            }
            std::set<std::string> names;
            for (;;) {
                if (v.kind == JsonValue::Kind::kObject) {
                    if (peek() != '"') fail("expected a member name in quotes");
                    std::string name = string();
                    // Which of two values would count is anyone's guess: refused.
                    if (!names.insert(name).second)
                        fail("the member \"" + name + "\" is given twice");
                    expect(':');
                    v.members.emplace_back(std::move(name), value(depth + 1));
                } else {
                    v.items.push_back(value(depth + 1));
                }
                if (peek() == close) {
                    ++at_;
                    return v;
                }
                expect(',');
            }
        }
        if (c == '"') {
            v.kind = JsonValue::Kind::kString;
            v.text = string();
        } else if (word("true")) {
            v.kind = JsonValue::Kind::kBool;
            v.boolean = true;
        } else if (word("false")) {
            v.kind = JsonValue::Kind::kBool;
        } else if (word("null")) {
            v.kind = JsonValue::Kind::kNull;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            v.kind = JsonValue::Kind::kNumber;
            v.text = number();
        } else {
            fail(std::string("unexpected '") + c + "'");
        }
        return v;
    }

    std::string number() {
        const std::size_t start = at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            if (at_ == from) fail("a number lacks its digits");
        };
        if (text_[at_] == '-') ++at_;
        if (at_ < text_.size() && text_[at_] == '0') {
            ++at_;
        } else {
            digits();
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            digits();
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            digits();
        }
        return text_.substr(start, at_ - start);
    }

    unsigned hex4() {
        if (text_.size() - at_ < 4) fail("a \\u escape needs four hex digits");
        unsigned v = 0;
        for (int i = 0; i < 4; ++i) {
            const char h = text_[at_++];
            v <<= 4;
            if (h >= '0' && h <= '9')
                v |= unsigned(h - '0');
            else if (h >= 'a' && h <= 'f')
                v |= unsigned(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F')
                v |= unsigned(h - 'A' + 10);
            else
                fail("a \\u escape needs four hex digits");
        }
        return v;
    }

    void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | (code >> 6));
            out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3F));
            out += char(0x80 | ((code >> 6) & 0x3F));
            out += char(0x80 | (code & 0x3F));
        }
    }

    std::string string() {
        ++at_;  // the opening quote
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) fail("a string is not closed");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("a control character inside a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) fail("a string is not closed");
            const char e = text_[at_++];
            switch (e) {
                case '"':
                case '\\':
                case '/': out += e; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    unsigned code = hex4();
                    // A pair of UTF-16 surrogates stands for one character past U+FFFF.
                    if (code >= 0xD800 && code < 0xDC00 && word("\\u")) {
                        const unsigned low = hex4();
                        if (low < 0xDC00 || low >= 0xE000) fail("a lone UTF-16 surrogate");
                        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                    } else if (code >= 0xD800 && code < 0xE000) {
                        fail("a lone UTF-16 surrogate");
                    }
                    appendUtf8(out, code);
                    break;
                }
                default: fail(std::string("unknown escape \\") + e);
            }
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::member(const std::string& name) const {
    for (const auto& [key, v] : members) {
        if (key == name) return &v;
    }
    return nullptr;
}

JsonValue parseJson(const std::string& text) { return Parser(text).document(); }

}  // namespace granulix::cli
