// The commands of the granulix program. Each takes the words after its
// name, returns the exit status and reports failures by throwing CliError.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace granulix::cli {

// Set by a signal that stops the program (stop_signals.h); long commands
// stop and clean up when it is.
extern std::atomic<bool> gStopRequested;

int renderCommand(const std::vector<std::string>& args);
int sheetCommand(const std::vector<std::string>& args);
int settingsCommand(const std::vector<std::string>& args);

std::string helpText();

}  // namespace granulix::cli
