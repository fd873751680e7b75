#include "settings_file.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace granulix {

const char* settingsFileMessage(SettingsFileStatus status) {
    switch (status) {
        case SettingsFileStatus::kOk: return "";
        case SettingsFileStatus::kCannotOpen: return "Error opening file!";
        case SettingsFileStatus::kCannotRead: return "Error reading file!";
        case SettingsFileStatus::kNotOurs: return "Not a Quodlibrator file!";
        case SettingsFileStatus::kReadFailed: return "Error reading file!";
        case SettingsFileStatus::kCannotCreate: return "Error creating file!";
        case SettingsFileStatus::kCannotWrite: return "Error writing file!";
    }
    return "";
}

SettingsFileStatus parseSettingsFile(const uint8_t* data, std::size_t size,
                                     EffectSettings& settings) {
    const std::size_t headerSize = sizeof kSettingsFileHeader;
    if (size < headerSize) return SettingsFileStatus::kCannotRead;
    // Compared as a zero-terminated text: the zero at offset 31 must be there.
    if (std::memcmp(data, kSettingsFileHeader, headerSize) != 0) {
        return SettingsFileStatus::kNotOurs;
    }
    // A block cut short would leave the settings half old, half new.
    if (size < kSettingsFileSize) return SettingsFileStatus::kCannotRead;
    std::memcpy(&settings, data + headerSize, kSettingsSize);
    return SettingsFileStatus::kOk;
}

std::vector<uint8_t> serializeSettingsFile(const EffectSettings& settings) {
    std::vector<uint8_t> bytes(kSettingsFileSize);
    std::memcpy(bytes.data(), kSettingsFileHeader, sizeof kSettingsFileHeader);
    std::memcpy(bytes.data() + sizeof kSettingsFileHeader, &settings, kSettingsSize);
    return bytes;
}

SettingsFileStatus loadSettingsFile(const std::string& path, EffectSettings& settings) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return SettingsFileStatus::kCannotOpen;
    uint8_t bytes[kSettingsFileSize];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return SettingsFileStatus::kReadFailed;
    return parseSettingsFile(bytes, got, settings);
}

SettingsFileStatus saveSettingsFile(const std::string& path, const EffectSettings& settings) {
    const std::vector<uint8_t> bytes = serializeSettingsFile(settings);
    const std::string temporary = path + ".part";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return SettingsFileStatus::kCannotCreate;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = (std::fflush(file) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) {
        std::remove(temporary.c_str());
        return SettingsFileStatus::kCannotWrite;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::remove(temporary.c_str());
        return SettingsFileStatus::kCannotCreate;
    }
    return SettingsFileStatus::kOk;
}

}  // namespace granulix
