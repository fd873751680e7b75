#include "command_line.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "cli_error.h"

namespace granulix::cli {

namespace {

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
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool looksLikeOption = arg.size() > 1 && arg[0] == '-' &&
                                     !std::isdigit(static_cast<unsigned char>(arg[1]));
        if (!looksLikeOption) {
            arguments_.push_back(arg);
            continue;
        }
        std::string name = arg, value;
        bool inlineValue = false;
        const std::size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& s : rules) {
            if (s.name == name || (!s.shortName.empty() && s.shortName == name)) rule = &s;
        }
        if (!rule) throw usageError("unknown option " + name + " for granulix " + command_);
        if (rule->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) throw usageError(rule->name + " needs a value");
            value = args[++i];
        } else if (!rule->takesValue && inlineValue) {
            throw usageError(rule->name + " takes no value");
        }
        auto& list = values_[rule->name];
        if (!rule->repeatable && !list.empty()) throw usageError(rule->name + " is given twice");
        list.push_back(value);
    }
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
        throw usageError(name + " must be a whole number from " + std::to_string(minimum) +
                         " to " + std::to_string(maximum) + ", not " + value(name));
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
