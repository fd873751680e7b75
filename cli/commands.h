// The commands of the granulix program. Each takes the words after its
// name, returns the exit status and reports failures by throwing CliError.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "command_line.h"

namespace granulix::cli {

// Set by a signal that stops the program (stop_signals.h); long commands
// stop and clean up when it is.
extern std::atomic<bool> gStopRequested;

int renderCommand(const std::vector<std::string>& args);
int sheetCommand(const std::vector<std::string>& args);
int playCommand(const std::vector<std::string>& args);
int settingsCommand(const std::vector<std::string>& args);

// The options of render and of sheet, one row each: the parser and --help
// both read them.
std::vector<OptionRule> renderOptions();
std::vector<OptionRule> sheetOptions();
std::vector<OptionRule> playOptions();

// `granulix --help`, and the parts of it that the commands' own --help repeat:
// what A and B may be, what OUT may be, the options of render and sheet.
std::string helpText();
std::string clipsHelp();
std::string outputNamesHelp();
std::string transitionOptionsHelp();

}  // namespace granulix::cli
