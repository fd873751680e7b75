// Failures of the command-line host. Every failure ends the program with one
// line on standard error and a non-zero exit status; the kind of failure
// chooses the status.
#pragma once

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

}  // namespace granulix::cli
