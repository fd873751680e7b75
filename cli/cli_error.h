// Failures of the command-line host. Every failure ends the program with one
// line on standard error and a non-zero exit status; the kind of failure
// chooses the status.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace granulix::cli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,  // an input, the module, a file or a render call failed
    kExitUsage = 2,    // the command line asks for something that cannot be
};

class CliError : public std::runtime_error {
public:
    explicit CliError(const std::string& message, int status = kExitFailure)
        : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// A mistake on the command line: unknown option or field, value out of range.
inline CliError usageError(const std::string& message) { return CliError(message, kExitUsage); }

// Longest message line shown whole; a longer one is cut in its middle.
constexpr std::size_t kLongestShownLine = 1000;

// `text` made fit for one line on a terminal: control characters written
// as escapes (\n, \t, \x1b), and when longer than `limit` bytes, its middle
// left out (never inside a UTF-8 character) with a note of how much. A name
// or value that a user typed, however long or odd, then stays one line.
inline std::string shownLine(const std::string& text, std::size_t limit = kLongestShownLine) {
    std::string out;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < 0x20 || u == 0x7F) {
            static const char hex[] = "0123456789abcdef";
            out += {'\\', 'x', hex[u >> 4], hex[u & 15]};
        } else {
            out += c;
        }
    }
    if (out.size() <= limit) return out;
    auto continues = [&out](std::size_t i) {
        return i < out.size() && (static_cast<unsigned char>(out[i]) & 0xC0) == 0x80;
    };
    std::size_t head = limit * 2 / 3, tail = out.size() - limit / 3;
    while (head > 0 && continues(head)) --head;
    while (continues(tail)) ++tail;
    return out.substr(0, head) + " [... " + std::to_string(tail - head) + " bytes left out ...] " +
           out.substr(tail);
}

}  // namespace granulix::cli
