// A small JSON reader for the settings files the program writes and takes
// back: objects, arrays, strings, numbers, true, false and null, as RFC 8259
// has them. Numbers keep their text, so that whole numbers are read exactly.
//
//   const JsonValue root = parseJson(text);           // throws JsonError
//   if (const JsonValue* v = root.member("fields")) ...
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace granulix::cli {

struct JsonValue {
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
    Kind kind = Kind::kNull;
    bool boolean = false;
    std::string text;  // a string's characters (UTF-8), or a number as written
    std::vector<JsonValue> items;
    std::vector<std::pair<std::string, JsonValue>> members;  // in the order written

    // The member named `name` of an object; null when there is none.
    const JsonValue* member(const std::string& name) const;
};

class JsonError : public std::runtime_error {
public:
    JsonError(int line, const std::string& what) : std::runtime_error(what), line_(line) {}
    int line() const { return line_; }  // from 1

private:
    int line_;
};

// One JSON value, with nothing but white space around it; objects and
// arrays nest at most 64 deep, and no object names a member twice.
JsonValue parseJson(const std::string& text);

}  // namespace granulix::cli
