// The .qlb settings file: a 32-byte header, "Vozav Quodlibrator Setings C1.0"
// and a zero byte, followed by the 424-byte settings block as it lies in
// memory. Bytes after offset 456 are ignored.
//
// Loading never half-applies a file: on any error the settings are left
// untouched. Saving writes a temporary file beside the target and renames it
// over the target only when every byte is on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "effect_settings.h"

namespace granulix {

constexpr char kSettingsFileHeader[32] = "Vozav Quodlibrator Setings C1.0";
constexpr std::size_t kSettingsFileSize = sizeof kSettingsFileHeader + kSettingsSize;
// The largest settings file the program and the frei0r plug-in read or
// change, bytes after the block and the JSON form included: far more than
// any needs. The module's own loader reads the first kSettingsFileSize bytes.
constexpr std::size_t kLargestSettingsFile = std::size_t(1) << 20;

enum class SettingsFileStatus {
    kOk,
    kCannotOpen,    // "Error opening file!"
    kCannotRead,    // "Error reading file!": too short for a header and a block
    kNotOurs,       // "Not a Quodlibrator file!"
    kReadFailed,    // the operating system failed a read: no fault of the file's
    kCannotCreate,  // the file could not be created, or could not replace the old one
    kCannotWrite,   // fewer bytes were stored than asked (a full disk)
};

// The text the user sees for a status; empty for kOk. The setup dialog
// shows kReadFailed as the platform's file error instead.
const char* settingsFileMessage(SettingsFileStatus status);

// Reads a whole file image. `settings` changes only when kOk is returned.
SettingsFileStatus parseSettingsFile(const uint8_t* data, std::size_t size,
                                     EffectSettings& settings);
std::vector<uint8_t> serializeSettingsFile(const EffectSettings& settings);

SettingsFileStatus loadSettingsFile(const std::string& path, EffectSettings& settings);
SettingsFileStatus saveSettingsFile(const std::string& path, const EffectSettings& settings);

}  // namespace granulix
