// Settings files as the command-line host reads them: the bytes that
// --settings, `settings show` and `settings set` take, JSON or .qlb alike,
// told apart by their content.
//
// Whatever the bytes, the reader either takes them or throws a CliError
// with a message, and then the settings are exactly as they were. Settings
// it takes come back unchanged through the JSON that `settings show --json`
// writes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cli_error.h"
#include "effect_settings.h"
#include "fuzz_inputs.h"
#include "settings_fields.h"
#include "settings_files.h"

namespace {

using namespace granulix;
using namespace granulix::cli;
using fuzz::check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    EffectSettings start{};
    fillDefaults(start);
    EffectSettings settings = start;
    try {
        parseSettings("fuzz.json", bytes, settings);
    } catch (const CliError& e) {
        check(*e.what() != '\0', "a refusal says what is wrong");
        check(std::memcmp(&settings, &start, sizeof settings) == 0,
              "a refused file changes nothing");
        return 0;
    } catch (...) {
        fuzz::fail("only CliError leaves the reader");
    }

    const std::string json = settingsJson(settings);
    EffectSettings again = start;
    try {
        parseSettings("again.json", std::vector<uint8_t>(json.begin(), json.end()), again);
    } catch (...) {
        fuzz::fail("the JSON of settings show --json is taken back");
    }
    check(std::memcmp(&settings, &again, sizeof settings) == 0,
          "settings come back through their JSON");
    return 0;
}
