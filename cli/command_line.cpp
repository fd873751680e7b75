#include "command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "cli_error.h"

namespace granulix::cli {

namespace {

constexpr int kMostArguments = 1 << 20;

bool parseWhole(const std::string& text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    if (i == text.size()) return false;
    for (std::size_t j = i; j < text.size(); ++j) {
        if (!std::isdigit(static_cast<unsigned char>(text[j]))) return false;
    }
    value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool parseIntegers(const std::string& text, char separator, std::vector<int64_t>& numbers) {
    numbers.clear();
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        int64_t v;
        if (!parseWhole(text.substr(start, end - start), v)) return false;
        numbers.push_back(v);
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

CommandLine::CommandLine(const std::string& command, const std::vector<std::string>& args,
                         const std::vector<OptionRule>& rules)
    : command_(command) {
    CLI::App app;
    app.allow_extras();
    app.set_help_flag("-h,--help");
    // CLI11 hands a plain word to a positional only while it expects more, so
    // this one expects more words than any command line holds. (An open-ended
    // count would also split words such as "[a,b]" into lists.)
    CLI::Option* plain = app.add_option("arguments")
                             ->expected(kMostArguments)
                             ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    std::vector<CLI::Option*> options;
    for (const OptionRule& rule : rules) {
        const std::string names =
            rule.shortName.empty() ? rule.name : rule.shortName + "," + rule.name;
        CLI::Option* option = rule.valueName.empty() ? app.add_flag(names) : app.add_option(names);
        options.push_back(option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll));
    }

    // CLI11 takes the words last first.
    std::vector<std::string> words(args.rbegin(), args.rend());
    try {
        app.parse(words);
    } catch (const CLI::CallForHelp&) {
        helpWanted_ = true;
        return;
    } catch (const CLI::ArgumentMismatch& e) {
        // The one mismatch left with every option taking all its values: the
        // last word is an option whose value is missing. CLI11 names it first.
        const std::string message = e.what();
        for (std::size_t i = 0; i < rules.size(); ++i) {
            if (message.rfind(options[i]->get_name() + ":", 0) == 0) {
                throw usageError(rules[i].name + " needs a value");
            }
        }
        throw usageError(message);
    } catch (const CLI::Error& e) {
        throw usageError(e.what());
    }

    for (const std::string& word : app.remaining()) {
        if (word == "--") continue;  // CLI11 keeps the mark among the words it did not take
        // -q=1 comes back as "-=1", the rest after the switch -q.
        for (const OptionRule& rule : rules) {
            if (word.rfind("-=", 0) == 0 && rule.valueName.empty() && !rule.shortName.empty() &&
                std::find(args.begin(), args.end(), rule.shortName + word.substr(1)) !=
                    args.end()) {
                throw usageError(rule.name + " takes no value");
            }
        }
        const std::string name = word.rfind("--", 0) == 0 ? word.substr(0, word.find('=')) : word;
        throw usageError("unknown option " + name + " for granulix " + command_);
    }
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const OptionRule& rule = rules[i];
        const std::vector<std::string>& given = options[i]->results();
        if (given.empty()) continue;
        if (!rule.repeatable && given.size() > 1) throw usageError(rule.name + " is given twice");
        for (const std::string& value : given) {
            if (rule.valueName.empty() && value != "true")
                throw usageError(rule.name + " takes no value");
            // An empty word would otherwise pass as the option not given.
            if (!rule.valueName.empty() && value.empty())
                throw usageError(rule.name + " needs a value, not an empty word");
            // -o=x.mp4 would name the file "=x.mp4", which no one means.
            const std::string word = rule.shortName + value;
            if (!rule.valueName.empty() && !rule.shortName.empty() && value.rfind('=', 0) == 0 &&
                std::find(args.begin(), args.end(), word) != args.end()) {
                const std::string meant = value.substr(1);
                throw usageError(word + ": write " + rule.shortName + " " + meant + " or " +
                                 rule.name + "=" + meant);
            }
        }
        values_[rule.name] = given;
    }
    arguments_ = plain->results();
}

std::string optionsHelp(const std::vector<OptionRule>& rules) {
    constexpr std::size_t kColumn = 25;
    std::string out;
    for (const OptionRule& rule : rules) {
        std::string line = "  " + (rule.shortName.empty() ? "" : rule.shortName + ", ") + rule.name;
        if (!rule.valueName.empty()) line += " " + rule.valueName;
        line.append(line.size() + 2 > kColumn ? 2 : kColumn - line.size(), ' ');
        for (const char c : rule.help) {
            line += c;
            if (c == '\n') line.append(kColumn, ' ');
        }
        out += line + "\n";
    }
    return out;
}

std::string commandHelp(const std::string& about, const std::vector<OptionRule>& rules) {
    std::vector<OptionRule> rows = rules;
    rows.push_back({"--help", "-h", "", false, "this help"});
    return about + "\nOptions:\n" + optionsHelp(rows) +
           "\ngranulix --help also lists the settings fields (NAME) and the exit statuses.\n";
}

const std::string& CommandLine::value(const std::string& name) const {
    return values_.at(name).back();
}

std::string CommandLine::valueOr(const std::string& name, const std::string& fallback) const {
    return has(name) ? value(name) : fallback;
}

const std::vector<std::string>& CommandLine::values(const std::string& name) const {
    static const std::vector<std::string> none;
    const auto it = values_.find(name);
    return it == values_.end() ? none : it->second;
}

int64_t CommandLine::integer(const std::string& name, int64_t fallback, int64_t minimum,
                             int64_t maximum) const {
    if (!has(name)) return fallback;
    int64_t v;
    if (!parseWhole(value(name), v) || v < minimum || v > maximum) {
        throw usageError(name + " must be a whole number from " + std::to_string(minimum) + " to " +
                         std::to_string(maximum) + ", not " + value(name));
    }
    return v;
}

double CommandLine::positive(const std::string& name, double fallback, double maximum) const {
    if (!has(name)) return fallback;
    const std::string& text = value(name);
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    // "30000/1001" style rates, as video tools write them.
    if (end && *end == '/' && end != text.c_str()) {
        char* rest = nullptr;
        const double d = std::strtod(end + 1, &rest);
        v = d > 0 ? v / d : NAN;
        end = rest;
    }
    if (text.empty() || !end || *end != '\0' || errno || !std::isfinite(v) || v <= 0 ||
        v > maximum) {
        throw usageError(name + " must be a number above 0 and at most " +
                         std::to_string(int64_t(maximum)) + ", not " + text);
    }
    return v;
}

}  // namespace granulix::cli
