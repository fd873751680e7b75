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
#include "settings_files.h"

namespace granulix::cli {

namespace {

EffectSettings defaultSettings() {
    EffectSettings settings{};  // the bytes nothing writes stay zero
    fillDefaults(settings);
    return settings;
}

// Changes the fields named by `assignments` in the file at `path`. A .qlb
// file keeps every other byte, bytes after the block included; a JSON file
// is written anew, as settings show --json writes it. The file stays locked
// from reading to replacing, so that concurrent changes all land.
void setFields(const std::string& path, const std::vector<std::string>& assignments, bool force) {
    checkReplaceable(path, force);
    checkSettingsFile(path);
    const LockedFile file(path, "cannot read settings file " + path);
    std::vector<uint8_t> bytes = file.readAll();
    EffectSettings settings = defaultSettings();
    parseSettings(path, bytes, settings);
    // Every assignment is checked before the file changes.
    for (const std::string& assignment : assignments) applyAssignment(settings, assignment);
    if (isJsonSettings(bytes)) {
        const std::string json = settingsJson(settings);
        replaceFile(path, std::vector<uint8_t>(json.begin(), json.end()), force);
        return;
    }
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

// Prints the --help of `granulix settings ...` when asked for; true when it did.
bool printedHelp(const CommandLine& line, const std::string& usage, const std::string& about,
                 const std::vector<OptionRule>& rules) {
    if (!line.helpWanted()) return false;
    std::fputs(commandHelp("usage: " + usage + "\n\n" + about, rules).c_str(), stdout);
    return true;
}

}  // namespace

int settingsCommand(const std::vector<std::string>& args) {
    if (args.empty()) {
        throw usageError("usage: granulix settings new|show|set [FILE] ...");
    }
    const std::string& action = args.front();
    const std::vector<std::string> rest(args.begin() + 1, args.end());

    if (action == "new") {
        const char* usage = "granulix settings new FILE.qlb [--force]";
        const std::vector<OptionRule> rules = {
            {"--force", "-f", "", false, "replace FILE.qlb if it is there already"}};
        const CommandLine line("settings new", rest, rules);
        if (printedHelp(line, usage, "Writes FILE.qlb with the module's default settings.\n",
                        rules)) {
            return kExitOk;
        }
        const std::string& path = onlyFile(line, usage);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            throw CliError("cannot write " + path +
                           ": it is a folder; name a file in it, such as " +
                           (std::filesystem::path(path) / "look.qlb").string());
        }
        if (!line.has("--force") && std::filesystem::exists(path)) {
            throw CliError(path + " exists already (--force replaces it)");
        }
        replaceFile(path, serializeSettingsFile(defaultSettings()), true);
        return kExitOk;
    }
    if (action == "show") {
        const char* usage = "granulix settings show [FILE] [--json]";
        const std::vector<OptionRule> rules = {{"--json", "", "", false,
                                                "the fields and their values as one JSON object, "
                                                "which\n--settings and settings show take back"}};
        const CommandLine line("settings show", rest, rules);
        if (printedHelp(
                line, usage,
                "Lists every field of FILE (.qlb or JSON) with its value, range and meaning;\n"
                "without FILE, the defaults.\n",
                rules)) {
            return kExitOk;
        }
        EffectSettings settings = defaultSettings();
        if (!line.arguments().empty()) readSettings(onlyFile(line, usage), settings);
        const std::string text =
            line.has("--json") ? settingsJson(settings) : settingsTable(settings);
        std::fwrite(text.data(), 1, text.size(), stdout);
        return kExitOk;
    }
    if (action == "set") {
        const char* usage = "granulix settings set FILE NAME=VALUE... [--force]";
        const std::vector<OptionRule> rules = {
            {"--force", "-f", "", false, "replace FILE even if it is read-only"}};
        const CommandLine line("settings set", rest, rules);
        if (printedHelp(
                line, usage,
                "Changes the named fields of FILE. A .qlb file keeps every other byte; a JSON\n"
                "file is written anew. Every value is checked first; when one is refused the\n"
                "file stays as it was.\n",
                rules)) {
            return kExitOk;
        }
        const auto& words = line.arguments();
        if (words.size() < 2) throw usageError(std::string("usage: ") + usage);
        setFields(words.front(), {words.begin() + 1, words.end()}, line.has("--force"));
        return kExitOk;
    }
    if (action == "--help" || action == "-h") {
        const std::string help = commandHelp(
            "usage: granulix settings new FILE.qlb [--force]\n"
            "       granulix settings show [FILE] [--json]\n"
            "       granulix settings set FILE NAME=VALUE... [--force]\n"
            "\n"
            "Writes, shows and changes settings files, as render and sheet read them with\n"
            "--settings: .qlb files, or the JSON that settings show --json writes, told\n"
            "apart by what they hold. granulix settings new --help (show, set) tells more.\n",
            {});
        std::fputs(help.c_str(), stdout);
        return kExitOk;
    }
    throw usageError("unknown settings action \"" + action + "\" (new, show or set)");
}

}  // namespace granulix::cli
