#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "settings_file.h"
#include "unreadable_file.h"

namespace granulix {
namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
protected:
    fs::path dir =
        fs::temp_directory_path() / ("granulix-settings-" + std::to_string(std::random_device{}()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    std::string write(const char* name, const std::vector<uint8_t>& bytes) {
        const fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p.string();
    }
    static EffectSettings randomBlock(uint32_t seed) {
        EffectSettings s;
        std::mt19937 g(seed);
        auto* bytes = reinterpret_cast<uint8_t*>(&s);
        for (size_t i = 0; i < sizeof s; ++i) bytes[i] = uint8_t(g());
        return s;
    }
};

TEST_F(SettingsFile, SaveThenLoadRestoresEveryByteAndReplacesAnOldFile) {
    const std::string path = (dir / "look.qlb").string();
    ASSERT_EQ(saveSettingsFile(path, randomBlock(1)), SettingsFileStatus::kOk);
    const EffectSettings saved = randomBlock(2);
    ASSERT_EQ(saveSettingsFile(path, saved), SettingsFileStatus::kOk);
    EXPECT_EQ(fs::file_size(path), 456u);
    EffectSettings loaded = randomBlock(3);
    ASSERT_EQ(loadSettingsFile(path, loaded), SettingsFileStatus::kOk);
    EXPECT_EQ(std::memcmp(&loaded, &saved, sizeof saved), 0);
    EXPECT_FALSE(fs::exists(path + ".part"));

    std::ifstream in(path, std::ios::binary);
    char header[32];
    in.read(header, 32);
    EXPECT_EQ(std::memcmp(header, "Vozav Quodlibrator Setings C1.0\0", 32), 0);
}

TEST_F(SettingsFile, BadFilesAreRefusedAndChangeNothing) {
    std::vector<uint8_t> good = serializeSettingsFile(randomBlock(4));
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        SettingsFileStatus status;
    };
    std::vector<uint8_t> noZero = good, otherText = good, shortBlock = good;
    noZero[31] = ' ';
    otherText[0] = 'W';
    shortBlock.resize(32 + 423);
    const Case cases[] = {
        {"twenty.qlb", std::vector<uint8_t>(good.begin(), good.begin() + 20),
         SettingsFileStatus::kCannotRead},
        {"nozero.qlb", noZero, SettingsFileStatus::kNotOurs},
        {"other.qlb", otherText, SettingsFileStatus::kNotOurs},
        {"short.qlb", shortBlock, SettingsFileStatus::kCannotRead},
        {"empty.qlb", {}, SettingsFileStatus::kCannotRead},
    };
    for (const Case& c : cases) {
        EffectSettings s = randomBlock(5);
        const EffectSettings before = s;
        EXPECT_EQ(loadSettingsFile(write(c.name, c.bytes), s), c.status) << c.name;
        EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0) << c.name;
    }
    EffectSettings s = randomBlock(6);
    EXPECT_EQ(loadSettingsFile((dir / "missing.qlb").string(), s), SettingsFileStatus::kCannotOpen);
    // A read the operating system fails is no fault of the file's, and is
    // told apart from a file cut short.
    const EffectSettings before = s;
    EXPECT_EQ(loadSettingsFile(testing::kUnreadableFile, s), SettingsFileStatus::kReadFailed);
    EXPECT_EQ(std::memcmp(&s, &before, sizeof s), 0);
    EXPECT_STREQ(settingsFileMessage(SettingsFileStatus::kCannotOpen), "Error opening file!");
    EXPECT_STREQ(settingsFileMessage(SettingsFileStatus::kCannotRead), "Error reading file!");
    EXPECT_STREQ(settingsFileMessage(SettingsFileStatus::kNotOurs), "Not a Quodlibrator file!");
    EXPECT_STREQ(settingsFileMessage(SettingsFileStatus::kCannotCreate), "Error creating file!");
}

TEST_F(SettingsFile, BytesAfterTheBlockAreIgnored) {
    const EffectSettings saved = randomBlock(7);
    std::vector<uint8_t> bytes = serializeSettingsFile(saved);
    bytes.resize(500, 0xEE);
    EffectSettings loaded{};
    ASSERT_EQ(loadSettingsFile(write("long.qlb", bytes), loaded), SettingsFileStatus::kOk);
    EXPECT_EQ(std::memcmp(&loaded, &saved, sizeof saved), 0);
}

TEST_F(SettingsFile, AFailedSaveLeavesTheOldFileWhole) {
    const std::string path = (dir / "keep.qlb").string();
    const EffectSettings first = randomBlock(8);
    ASSERT_EQ(saveSettingsFile(path, first), SettingsFileStatus::kOk);
    // A directory where the temporary file would go makes the save fail.
    fs::create_directory(path + ".part");
    EXPECT_EQ(saveSettingsFile(path, randomBlock(9)), SettingsFileStatus::kCannotCreate);
    EffectSettings loaded{};
    ASSERT_EQ(loadSettingsFile(path, loaded), SettingsFileStatus::kOk);
    EXPECT_EQ(std::memcmp(&loaded, &first, sizeof first), 0);
    EXPECT_EQ(saveSettingsFile((dir / "no-such-dir" / "x.qlb").string(), first),
              SettingsFileStatus::kCannotCreate);
}

}  // namespace
}  // namespace granulix
