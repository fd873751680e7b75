#include <cstdio>
#include <filesystem>

#include "cli_error.h"
#include "command_line.h"
#include "commands.h"
#include "effect_settings.h"
#include "settings_fields.h"
#include "settings_file.h"

namespace granulix::cli {

namespace {

EffectSettings loadOrFail(const std::string& path) {
    EffectSettings settings{};
    const SettingsFileStatus status = loadSettingsFile(path, settings);
    if (status != SettingsFileStatus::kOk) throw CliError(path + ": " + settingsFileMessage(status));
    return settings;
}

void saveOrFail(const std::string& path, const EffectSettings& settings) {
    const SettingsFileStatus status = saveSettingsFile(path, settings);
    if (status != SettingsFileStatus::kOk) throw CliError(path + ": " + settingsFileMessage(status));
}

const std::string& onlyFile(const CommandLine& line, const char* usage, std::size_t atLeast = 1,
                            std::size_t atMost = 1) {
    const auto& args = line.arguments();
    if (args.size() < atLeast || args.size() > atMost) {
        throw usageError(std::string("usage: ") + usage);
    }
    return args.front();
}

}  // namespace

int settingsCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        throw usageError("usage: granulix settings new|show|set FILE.qlb ...");
    }
    const std::string& action = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());

    if (action == "new") {
        const CommandLine line("settings new", rest, {{"--force", "-f", false, false}});
        const std::string& path = onlyFile(line, "granulix settings new FILE.qlb [--force]");
        if (!line.has("--force") && std::filesystem::exists(path)) {
            throw CliError(path + " exists already (--force replaces it)");
        }
        EffectSettings settings{};  // the bytes nothing writes stay zero
        fillDefaults(settings);
        saveOrFail(path, settings);
        return kExitOk;
    }
    if (action == "show") {
        const CommandLine line("settings show", rest, {{"--json", "", false, false}});
        const std::string& path = onlyFile(line, "granulix settings show FILE.qlb [--json]");
        const EffectSettings settings = loadOrFail(path);
        const std::string text = line.has("--json") ? settingsJson(settings) : settingsTable(settings);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kExitOk;
    }
    if (action == "set") {
        const CommandLine line("settings set", rest, {});
        const auto& words = line.arguments();
        if (words.size() < 2) throw usageError("usage: granulix settings set FILE.qlb NAME=VALUE...");
        EffectSettings settings = loadOrFail(words.front());
        // Every assignment is checked before the file changes.
        for (std::size_t i = 1; i < words.size(); ++i) applyAssignment(settings, words[i]);
        saveOrFail(words.front(), settings);
        return kExitOk;
    }
    throw usageError("unknown settings action \"" + action + "\" (new, show or set)");
}

}  // namespace granulix::cli
