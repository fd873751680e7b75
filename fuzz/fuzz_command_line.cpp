// The command-line host's words: the option splitter with the options of
// `granulix render` (the program's own table), the checks of their values, and `granulix settings
// set` on a real file with fuzzer-chosen assignments.
//
// The input is NUL-separated words. Every mistake must come back as a
// CliError with a message (nothing else may be thrown, and nothing may
// crash), and a `settings set` that fails leaves the file as it was.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "cli_error.h"
#include "command_line.h"
#include "commands.h"
#include "effect_settings.h"
#include "fuzz_inputs.h"
#include "settings_fields.h"
#include "settings_file.h"

namespace {

using namespace granulix;
using namespace granulix::cli;
using fuzz::check;

std::vector<std::string> words(const uint8_t* data, size_t size) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size && out.size() <= 64; ++i) {
        if (data[i] == 0) {
            out.emplace_back();
        } else {
            out.back() += char(data[i]);
        }
    }
    return out;
}

// Runs `step`; a CliError must carry a message and one of the two statuses.
template <typename Step>
bool refusedCleanly(Step&& step) {
    try {
        step();
        return false;
    } catch (const CliError& e) {
        check(*e.what() != '\0', "a refusal says what is wrong");
        check(e.status() == kExitUsage || e.status() == kExitFailure, "a refusal has a status");
        return true;
    } catch (...) {
        fuzz::fail("only CliError leaves a command");
    }
}

std::vector<uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> args = words(data, size);

    // The options of render and sheet, and the checks they get before any
    // file is touched.
    refusedCleanly([&] {
        const CommandLine line("render", args, renderOptions());
        line.integer("--frames", 50, 2, 100000);
        line.integer("--field-mode", 0, 0, 2);
        line.positive("--fps", 25, 1000);
        std::vector<int64_t> numbers;
        parseIntegers(line.valueOr("--size", "1x1"), 'x', numbers);
        parseIntegers(line.valueOr("--region", "0,0,1,1"), ',', numbers);
        EffectSettings scratch{};
        for (const std::string& assignment : line.values("--set"))
            applyAssignment(scratch, assignment);
    });

    // settings set FILE NAME=VALUE...: all or nothing.
    static const std::string path = "/tmp/granulix-fuzz-cli-" + std::to_string(getpid()) + ".qlb";
    EffectSettings settings{};
    fillDefaults(settings);
    if (saveSettingsFile(path, settings) != SettingsFileStatus::kOk) return 0;
    const std::vector<uint8_t> before = fileBytes(path);
    std::vector<std::string> set{"set", path};
    set.insert(set.end(), args.begin(), args.end());
    const bool refused = refusedCleanly([&] { settingsCommand(set); });
    if (refused) check(fileBytes(path) == before, "a refused settings set leaves the file alone");
    std::remove(path.c_str());
    return 0;
}
