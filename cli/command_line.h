// The words of a granulix command line: a command, its options (with their
// values) and its plain arguments.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace granulix::cli {

struct OptionRule {
    std::string name;         // "--frames"
    std::string shortName;    // "-o", or empty
    bool takesValue;
    bool repeatable;
};

class CommandLine {
public:
    // Splits `args` (after the command) by the options in `rules`; throws a
    // usage error for an unknown option, a missing value or a repeat.
    CommandLine(const std::string& command, const std::vector<std::string>& args,
                const std::vector<OptionRule>& rules);

    bool has(const std::string& name) const { return values_.count(name) != 0; }
    const std::string& value(const std::string& name) const;   // last given
    std::string valueOr(const std::string& name, const std::string& fallback) const;
    const std::vector<std::string>& values(const std::string& name) const;
    const std::vector<std::string>& arguments() const { return arguments_; }

    // Whole numbers and other values of options, each checked for its range.
    int64_t integer(const std::string& name, int64_t fallback, int64_t minimum,
                    int64_t maximum) const;
    // A number above 0, also as a ratio such as 30000/1001.
    double positive(const std::string& name, double fallback, double maximum) const;

private:
    std::string command_;
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> arguments_;
};

// "W,H" style lists of whole numbers, with `separator` between them; false
// when the text is anything else.
bool parseIntegers(const std::string& text, char separator, std::vector<int64_t>& numbers);

}  // namespace granulix::cli
