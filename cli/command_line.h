// The words of a granulix command line: a command's options (with their
// values) and its plain arguments, split by CLI11 the way other programs
// split theirs (`-o OUT`, `-oOUT`, `--output OUT`, `--output=OUT`, `-qj4`,
// `--` before arguments that begin with a dash, `-h`/`--help`).
//
// A command describes each of its options in one OptionRule row; the same
// rows drive the splitting and the option lines of the command's --help, so
// a new option is one more row.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace granulix::cli {

struct OptionRule {
    std::string name;       // "--frames"
    std::string shortName;  // "-n", or empty
    std::string valueName;  // "N" for an option that takes a value; empty for a switch
    bool repeatable;
    std::string help;  // its text in --help; '\n' starts a continuation line
};

class CommandLine {
public:
    // Splits `args` (after the command) by the options in `rules`; throws a
    // usage error for an unknown option, a missing value or a repeat.
    CommandLine(const std::string& command, const std::vector<std::string>& args,
                const std::vector<OptionRule>& rules);

    // -h or --help was given: the command prints its usage and nothing else.
    bool helpWanted() const { return helpWanted_; }

    bool has(const std::string& name) const { return values_.count(name) != 0; }
    const std::string& value(const std::string& name) const;  // last given
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
    bool helpWanted_ = false;
    std::map<std::string, std::vector<std::string>> values_;
    std::vector<std::string> arguments_;
};

// The option lines of a --help: one line or more per rule, descriptions in
// a column.
std::string optionsHelp(const std::vector<OptionRule>& rules);
// A command's whole --help: `about` (its usage and what it does), then its
// options with -h/--help last.
std::string commandHelp(const std::string& about, const std::vector<OptionRule>& rules);

// "W,H" style lists of whole numbers, with `separator` between them; false
// when the text is anything else.
bool parseIntegers(const std::string& text, char separator, std::vector<int64_t>& numbers);

}  // namespace granulix::cli
