// Settings files as the program reads them: a .qlb file (its 32-byte header,
// then the settings block) or the JSON that `granulix settings show --json`
// writes, told apart by their first bytes whatever their names. Failures
// throw CliError with a message that names the file and says "settings file".
//
// A JSON file is an object whose "fields" array holds {"name", "value"}
// objects for the fields of the settings table (other members, such as
// "min" or "meaning", are there for the reader and are ignored), and whose
// "reserved168" member holds the 256 reserved bytes as hex digits. Fields
// left out keep the values of the settings the file is read over.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "effect_settings.h"

namespace granulix::cli {

// Whether the bytes of a settings file are JSON: the first that is not
// white space opens an object.
bool isJsonSettings(const std::vector<uint8_t>& bytes);

// Settings files are plain files of at most kLargestSettingsFile bytes; every
// command that reads or changes one refuses anything else, and never waits
// on a named pipe to find out. Throws CliError unless `path` can be read as
// one: a usage error for a folder, a pipe or a device.
void checkSettingsFile(const std::string& path);

// Reads the settings in the file image `bytes` of `path` over `settings`,
// which changes only when the whole file is good.
void parseSettings(const std::string& path, const std::vector<uint8_t>& bytes,
                   EffectSettings& settings);

// Reads the file at `path` over `settings` in the same way.
void readSettings(const std::string& path, EffectSettings& settings);

}  // namespace granulix::cli
