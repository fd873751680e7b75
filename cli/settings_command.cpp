#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cli_error.h"
#include "command_line.h"
#include "commands.h"
#include "effect_settings.h"
#include "output_files.h"
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

// Changes the fields named by `assignments` in the file at `path` and keeps
// every other byte, bytes after the block included. The file stays locked
// from reading to replacing, so that concurrent changes all land.
void setFields(const std::string& path, const std::vector<std::string>& assignments, bool force) {
    checkReplaceable(path, force);
    const LockedFile file(path, path + ": " + settingsFileMessage(SettingsFileStatus::kCannotOpen));
    std::vector<uint8_t> bytes = file.readAll();
    EffectSettings settings{};
    const SettingsFileStatus status = parseSettingsFile(bytes.data(), bytes.size(), settings);
    if (status != SettingsFileStatus::kOk) throw CliError(path + ": " + settingsFileMessage(status));
    // Every assignment is checked before the file changes.
    for (const std::string& assignment : assignments) applyAssignment(settings, assignment);
    const std::vector<uint8_t> image = serializeSettingsFile(settings);
    std::copy(image.begin(), image.end(), bytes.begin());
    replaceFile(path, bytes, force);
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
        replaceFile(path, serializeSettingsFile(settings), true);
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
        const CommandLine line("settings set", rest, {{"--force", "-f", false, false}});
        const auto& words = line.arguments();
        if (words.size() < 2) {
            throw usageError("usage: granulix settings set FILE.qlb NAME=VALUE... [--force]");
        }
        setFields(words.front(), {words.begin() + 1, words.end()}, line.has("--force"));
        return kExitOk;
    }
    throw usageError("unknown settings action \"" + action + "\" (new, show or set)");
}

}  // namespace granulix::cli
