// The .qlb loader on arbitrary bytes: the same loadSettingsFile that the
// setup dialog's Load button and `granulix settings` call, through a real
// file, and the parser under it on the bytes themselves.
//
// Whatever the bytes, the loader either reports kOk and the settings hold
// bytes 32..455 of the file, or reports why not and the settings are exactly
// as they were. The loaded block then renders on a small frame: a file is
// the one place values outside the editing ranges come from.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_inputs.h"
#include "render_job.h"
#include "renderer.h"
#include "settings_file.h"

namespace {

using namespace granulix;
using fuzz::check;

const std::string& scratchPath() {
    static const std::string path = "/tmp/granulix-fuzz-" + std::to_string(getpid()) + ".qlb";
    return path;
}

EffectSettings pattern() {
    EffectSettings s;
    auto* bytes = reinterpret_cast<uint8_t*>(&s);
    for (size_t i = 0; i < sizeof s; ++i) bytes[i] = uint8_t(i * 13 + 5);
    return s;
}

SettingsFileStatus expectedStatus(const uint8_t* data, size_t size) {
    if (size < sizeof kSettingsFileHeader) return SettingsFileStatus::kCannotRead;
    if (std::memcmp(data, kSettingsFileHeader, sizeof kSettingsFileHeader) != 0) {
        return SettingsFileStatus::kNotOurs;
    }
    if (size < kSettingsFileSize) return SettingsFileStatus::kCannotRead;
    return SettingsFileStatus::kOk;
}

void checkOutcome(SettingsFileStatus status, const EffectSettings& settings, const uint8_t* data,
                  size_t size) {
    const EffectSettings before = pattern();
    check(status == expectedStatus(data, size), "the status says what is wrong with the file");
    if (status == SettingsFileStatus::kOk) {
        check(std::memcmp(&settings, data + sizeof kSettingsFileHeader, kSettingsSize) == 0,
              "a load takes bytes 32..455");
    } else {
        check(std::memcmp(&settings, &before, sizeof before) == 0,
              "a refused file changes nothing");
        check(*settingsFileMessage(status) != '\0', "a refusal has a message");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    EffectSettings parsed = pattern();
    const SettingsFileStatus parseStatus = parseSettingsFile(data, size, parsed);
    checkOutcome(parseStatus, parsed, data, size);

    std::FILE* file = std::fopen(scratchPath().c_str(), "wb");
    if (!file) return 0;
    const bool written = std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) return 0;
    EffectSettings loaded = pattern();
    const SettingsFileStatus loadStatus = loadSettingsFile(scratchPath(), loaded);
    std::remove(scratchPath().c_str());
    checkOutcome(loadStatus, loaded, data, size);
    if (loadStatus != SettingsFileStatus::kOk) return 0;

    // The loaded block as the renderer gets it, unchecked by the loader.
    constexpr int32_t kW = 7, kH = 5;
    std::vector<uint32_t> a(kW * kH), b(kW * kH), out(kW * kH);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = uint32_t(0x10000 * i + 1);
        b[i] = uint32_t(0x200 * i + 2);
    }
    render(workFramesJob(65536, uint32_t(data[size - 1]) << 8, kW, kH,
                         {a.data(), b.data(), out.data()}, loaded));
    for (size_t i = 0; i < out.size(); ++i) {
        const bool fromA = (out[i] & 0xFFFF) == 1 && out[i] / 0x10000 < a.size();
        check(out[i] == b[i] || fromA, "every output pixel is clip B's own or one of clip A's");
    }
    return 0;
}
