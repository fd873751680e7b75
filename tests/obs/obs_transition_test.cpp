// The granulix-obs module as OBS uses it: libobs started headless, the
// module loaded from the build tree, the transition found by its id and run
// between two image sources of an odd size. Its frames must be the bytes
// `granulix render` gives for the same pictures, settings and progress; its
// properties must cover every field a user can set; its sound must cross
// at equal power; bad settings files and extreme sizes must leave OBS whole.
#include <gtest/gtest.h>
#include <obs.h>
#include <util/base.h>
#include <util/platform.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "obs_headless.h"
#include "settings_table.h"

namespace {

using granulix::obs_test::ObsHeadless;
namespace fs = std::filesystem;

constexpr uint32_t kWidth = 101, kHeight = 67;  // odd, as OBS's even output sizes are not
constexpr int kProgramFrames = 5;               // frame i is progress i/4

ObsHeadless* obs;
fs::path workFolder;

// OBS's log, kept so that a test can count the lines naming something.
std::mutex logMutex;
std::vector<std::string> logLines;

void keepLog(int level, const char* format, va_list args, void*) {
    char line[4096];
    std::vsnprintf(line, sizeof line, format, args);
    std::lock_guard lock(logMutex);
    logLines.emplace_back(line);
    if (level <= LOG_WARNING) std::fprintf(stderr, "obs: %s\n", line);
}

int logLinesWith(const std::string& text) {
    std::lock_guard lock(logMutex);
    int n = 0;
    for (const std::string& l : logLines) n += l.find(text) != std::string::npos;
    return n;
}

void run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

// The frames `granulix render` writes for the two pictures, as raw 24-bit
// pixels (blue, green, red), top line first.
std::vector<std::vector<uint8_t>> programFrames(const std::string& options) {
    const std::string command = std::string(GRANULIX_PROGRAM) + " render " +
                                (workFolder / "a.png").string() + " " +
                                (workFolder / "b.png").string() + " -o - --frames " +
                                std::to_string(kProgramFrames) + " " + options;
    FILE* pipe = popen(command.c_str(), "r");
    std::vector<std::vector<uint8_t>> frames;
    if (!pipe) return frames;
    for (int i = 0; i < kProgramFrames; ++i) {
        std::vector<uint8_t> frame(std::size_t(kWidth) * kHeight * 3);
        if (std::fread(frame.data(), 1, frame.size(), pipe) != frame.size()) break;
        frames.push_back(std::move(frame));
    }
    pclose(pipe);
    return frames;
}

// Differing pixels between OBS's RGBA frame and the program's 24-bit one;
// a pixel that is not opaque counts as differing.
int differingPixels(const std::vector<uint8_t>& rgba, const std::vector<uint8_t>& bgr) {
    int differing = 0;
    for (std::size_t p = 0; p < std::size_t(kWidth) * kHeight; ++p) {
        const uint8_t* o = &rgba[p * 4];
        const uint8_t* e = &bgr[p * 3];
        differing += o[0] != e[2] || o[1] != e[1] || o[2] != e[0] || o[3] != 255;
    }
    return differing;
}

// Lets OBS's video thread tick the transition once or twice.
void letOneTick() { std::this_thread::sleep_for(std::chrono::milliseconds(60)); }

// The transition's frame at time t: the mix drawn is of the scenes staged a
// frame before, so the second of two frames at the same time is the one.
std::vector<uint8_t> frameAt(obs_source_t* transition, float t) {
    obs_transition_set_manual_time(transition, t);
    letOneTick();
    obs->renderFrame(transition, kWidth, kHeight);
    return obs->renderFrame(transition, kWidth, kHeight);
}

void applySettings(obs_source_t* source, const std::string& json) {
    obs_data_t* data = obs_data_create_from_json(json.c_str());
    obs_source_update(source, data);
    obs_data_release(data);
    letOneTick();  // a video source's update waits for its next tick
}

class ObsTransition : public ::testing::Test {
protected:
    void SetUp() override {
        a = obs->imageSource((workFolder / "a.png").string());
        b = obs->imageSource((workFolder / "b.png").string());
        transition = obs->transition(kWidth, kHeight, a, b);
    }
    void TearDown() override {
        obs_source_release(transition);
        obs_source_release(b);
        obs_source_release(a);
    }
    obs_source_t* a = nullptr;
    obs_source_t* b = nullptr;
    obs_source_t* transition = nullptr;
};

TEST_F(ObsTransition, FramesAreTheProgramsAtEveryTime) {
    const auto expected = programFrames("");
    ASSERT_EQ(expected.size(), std::size_t(kProgramFrames));
    // The first frame of a run has nothing staged before it: the scene being
    // left, which is the mix at time 0.
    obs_transition_set_manual_time(transition, 0.5f);
    letOneTick();
    EXPECT_EQ(differingPixels(obs->renderFrame(transition, kWidth, kHeight), expected[0]), 0);
    for (int i : {1, 2, 3}) {
        const float t = float(i) / float(kProgramFrames - 1);
        EXPECT_EQ(differingPixels(frameAt(transition, t), expected[std::size_t(i)]), 0)
            << "time " << t;
    }
}

TEST_F(ObsTransition, FramesFollowAJsonSettingsFileAndChangedFields) {
    const fs::path file = workFolder / "look.json";
    std::ofstream(file) << R"({"fields": [{"name": "gravity", "value": 200},
        {"name": "wind", "value": 40}, {"name": "cellWidth", "value": 3},
        {"name": "sourceBindings[2].kind", "value": 12}]})";
    // The file names some fields; the others keep the values in force.
    const std::string withFile = "--settings " + file.string() + " --set timeline=200";
    const auto fromFile = programFrames(withFile);
    const auto changed = programFrames(withFile + " --set cellHeight=1");
    ASSERT_EQ(fromFile.size(), std::size_t(kProgramFrames));
    ASSERT_EQ(changed.size(), std::size_t(kProgramFrames));

    applySettings(transition, R"({"timeline": 200})");
    applySettings(transition, R"({"settings-file": ")" + file.string() + R"("})");
    obs_data_t* data = obs_source_get_settings(transition);
    EXPECT_EQ(obs_data_get_int(data, "gravity"), 200) << "the file's fields show in the properties";
    EXPECT_EQ(obs_data_get_int(data, "delay-source"), 12);
    obs_data_release(data);
    EXPECT_EQ(differingPixels(frameAt(transition, 0.5f), fromFile[2]), 0);

    applySettings(transition, R"({"cell-height": 1})");
    EXPECT_EQ(differingPixels(frameAt(transition, 0.75f), changed[3]), 0);

    // A hand-edited scene collection may hold anything: held to the ranges.
    const auto held = programFrames(withFile + " --set cellHeight=1 --set gravity=255");
    ASSERT_EQ(held.size(), std::size_t(kProgramFrames));
    applySettings(transition, R"({"gravity": 99999, "cell-height": -7})");
    EXPECT_EQ(differingPixels(frameAt(transition, 0.25f), held[1]), 0);
}

TEST_F(ObsTransition, UnreadableSettingsFileIsReportedOnceAndTheSettingsStay) {
    const auto expected = programFrames("");
    ASSERT_EQ(expected.size(), std::size_t(kProgramFrames));
    const std::string missing = (workFolder / "missing.qlb").string();
    fs::path garbage = workFolder / "garbage.qlb";
    std::ofstream(garbage) << "not settings";

    applySettings(transition, R"({"settings-file": ")" + missing + R"("})");
    applySettings(transition, R"({"gravity": 0})");  // another update: the same name again
    obs_source_t* second = obs->transition(kWidth, kHeight, a, b);
    applySettings(second, R"({"settings-file": ")" + missing + R"("})");
    applySettings(transition, R"({"settings-file": ")" + garbage.string() + R"("})");
    EXPECT_EQ(logLinesWith(missing), 1);
    EXPECT_EQ(logLinesWith(garbage.string()), 1);
    EXPECT_EQ(differingPixels(frameAt(transition, 0.5f), expected[2]), 0);
    obs_source_release(second);
}

TEST_F(ObsTransition, ResetPutsEveryFieldBackToItsDefault) {
    const auto expected = programFrames("");
    ASSERT_EQ(expected.size(), std::size_t(kProgramFrames));
    applySettings(transition, R"({"gravity": 255, "cell-width": 1, "moving-x-invert": true})");
    obs_properties_t* props = obs_source_properties(transition);
    obs_property_t* reset = obs_properties_get(props, "reset-to-defaults");
    ASSERT_NE(reset, nullptr);
    obs_property_button_clicked(reset, transition);
    obs_properties_destroy(props);
    letOneTick();
    obs_data_t* data = obs_source_get_settings(transition);
    EXPECT_FALSE(obs_data_has_user_value(data, "gravity"));
    EXPECT_FALSE(obs_data_has_user_value(data, "moving-x-invert"));
    obs_data_release(data);
    EXPECT_EQ(differingPixels(frameAt(transition, 0.25f), expected[1]), 0);
}

TEST(ObsProperties, EveryUserFieldInItsOwnUnitsWithItsDefault) {
    obs_properties_t* props = obs_get_source_properties("granulix_transition");
    obs_data_t* defaults = obs_get_source_defaults("granulix_transition");
    ASSERT_NE(props, nullptr);
    int fields = 0;
    for (const granulix::SettingsField& f : granulix::settingsFields()) {
        if (!f.settable || f.paramName.empty()) continue;
        ++fields;
        const char* key = f.paramName.c_str();
        obs_property_t* p = obs_properties_get(props, key);
        ASSERT_NE(p, nullptr) << key;
        const std::string label = obs_property_description(p);
        EXPECT_FALSE(label.empty() || label == key) << key << ": no name in the locale file";
        EXPECT_EQ(obs_property_long_description(p), f.meaning) << key;
        if (f.isKind) {
            ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_LIST) << key;
            ASSERT_EQ(obs_property_list_item_count(p), std::size_t(f.maximum + 1)) << key;
            EXPECT_STREQ(obs_property_list_item_name(p, 7), granulix::kSourceKindNames[7]);
            EXPECT_EQ(obs_data_get_default_int(defaults, key), f.defaultValue) << key;
        } else if (f.minimum == 0 && f.maximum == 1) {
            EXPECT_EQ(obs_property_get_type(p), OBS_PROPERTY_BOOL) << key;
            EXPECT_EQ(obs_data_get_default_bool(defaults, key), f.defaultValue != 0) << key;
        } else {
            ASSERT_EQ(obs_property_get_type(p), OBS_PROPERTY_INT) << key;
            EXPECT_EQ(obs_property_int_min(p), f.minimum) << key;
            EXPECT_EQ(obs_property_int_max(p), f.maximum) << key;
            EXPECT_EQ(obs_data_get_default_int(defaults, key), f.defaultValue) << key;
        }
    }
    EXPECT_GT(fields, 30);
    obs_property_t* file = obs_properties_get(props, "settings-file");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(obs_property_get_type(file), OBS_PROPERTY_PATH);
    EXPECT_NE(std::string(obs_property_path_filter(file)).find("*.qlb *.json"), std::string::npos);
    obs_data_release(defaults);
    obs_properties_destroy(props);
}

TEST_F(ObsTransition, SizesFromOnePixelToEightK) {
    for (auto [w, h] : {std::pair{1u, 1u}, std::pair{2u, 1u}, std::pair{7680u, 4320u}}) {
        obs_transition_set_size(transition, w, h);
        obs_transition_set_manual_time(transition, 0.5f);
        letOneTick();
        obs->renderFrame(transition, w, h);
        const std::vector<uint8_t> frame = obs->renderFrame(transition, w, h);
        std::size_t opaque = 0;
        for (std::size_t p = 3; p < frame.size(); p += 4) opaque += frame[p] == 255;
        EXPECT_EQ(opaque, std::size_t(w) * h) << w << "x" << h;
    }
}

// A source of constant sound on both channels, pushed in 10 ms blocks with
// timestamps in step with the clock, as a microphone's would be.
struct Tone {
    obs_source_t* source;
    float level;
    std::atomic<bool> running{true};
    std::thread pusher;

    Tone(obs_source_t* s, float l) : source(s), level(l), pusher([this] { push(); }) {}
    ~Tone() {
        running = false;
        pusher.join();
    }
    void push() {
        constexpr uint32_t kFrames = 480;
        std::vector<float> samples(kFrames, level);
        const uint64_t start = os_gettime_ns();
        for (uint64_t block = 0; running; ++block) {
            obs_source_audio audio{};
            audio.data[0] = audio.data[1] = reinterpret_cast<const uint8_t*>(samples.data());
            audio.frames = kFrames;
            audio.speakers = SPEAKERS_STEREO;
            audio.format = AUDIO_FORMAT_FLOAT_PLANAR;
            audio.samples_per_sec = 48000;
            audio.timestamp = start + block * 10'000'000;
            obs_source_output_audio(source, &audio);
            os_sleepto_ns(start + (block + 1) * 10'000'000);
        }
    }
};

obs_source_info toneInfo() {
    obs_source_info info{};
    info.id = "granulix_test_tone";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_AUDIO;
    info.get_name = [](void*) { return "tone"; };
    info.create = [](obs_data_t* settings, obs_source_t* source) -> void* {
        return new Tone(source, float(obs_data_get_double(settings, "level")));
    };
    info.destroy = [](void* data) { delete static_cast<Tone*>(data); };
    return info;
}

struct SoundLevel {
    std::mutex mutex;
    std::vector<float> recent;  // the left channel's last samples

    static void take(void* param, size_t, audio_data* data) {
        auto* self = static_cast<SoundLevel*>(param);
        std::lock_guard lock(self->mutex);
        const auto* left = reinterpret_cast<const float*>(data->data[0]);
        self->recent.insert(self->recent.end(), left, left + data->frames);
        if (self->recent.size() > 4800) {
            self->recent.erase(self->recent.begin(), self->recent.end() - 4800);
        }
    }
    float mean() {
        std::lock_guard lock(mutex);
        double sum = 0;
        for (float s : recent) sum += s;
        return recent.empty() ? 0.0f : float(sum / double(recent.size()));
    }
    // The level once two readings a window apart (0.1 s) agree with
    // `expected`, or the last reading after 10 s. OBS's audio thread drops
    // ticks as silence when the machine is busy, so one reading can be off;
    // two in a row cannot be a level merely passing through on its way.
    float settled(double expected, double tolerance) {
        float last = 0.0f;
        int agreeing = 0;
        const auto start = std::chrono::steady_clock::now();
        while (agreeing < 2 &&
               std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            last = mean();
            agreeing = std::abs(last - expected) <= tolerance ? agreeing + 1 : 0;
        }
        return last;
    }
};

obs_source_t* tone(const char* name, double level) {
    obs_data_t* settings = obs_data_create();
    obs_data_set_double(settings, "level", level);
    obs_source_t* source = obs_source_create_private("granulix_test_tone", name, settings);
    obs_data_release(settings);
    return source;
}

TEST(ObsSound, CrossesAtEqualPower) {
    constexpr double kLevel = 0.6;
    obs_source_t* loud = tone("loud", kLevel);
    obs_source_t* silent = tone("silent", 0.0);
    obs_source_t* transition = obs_source_create_private("granulix_transition", "sound", nullptr);
    obs_transition_set(transition, loud);
    obs_set_output_source(0, transition);
    SoundLevel level;
    obs_add_raw_audio_callback(0, nullptr, &SoundLevel::take, &level);

    EXPECT_NEAR(level.settled(kLevel, 0.005), kLevel, 0.005)
        << "before the transition: the first scene's sound";
    obs_transition_start(transition, OBS_TRANSITION_MODE_MANUAL, 0, silent);
    obs_transition_set_manual_torque(transition, 0, 0);
    obs_transition_set_manual_time(transition, 0.5f);
    // Equal power: each scene at cos(pi/4); a linear crossfade would give half.
    const double mid = kLevel * std::sqrt(0.5);
    EXPECT_NEAR(level.settled(mid, 0.005), mid, 0.005) << "at mid-transition";

    obs_remove_raw_audio_callback(0, &SoundLevel::take, &level);
    obs_set_output_source(0, nullptr);
    obs_source_release(transition);
    obs_source_release(silent);
    obs_source_release(loud);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    base_set_log_handler(keepLog, nullptr);
    char folder[] = "/tmp/granulix-obs-XXXXXX";
    if (!mkdtemp(folder)) return 1;
    workFolder = folder;
    const std::string pictures =
        "ffmpeg -v error -y -f lavfi -i testsrc=size=" + std::to_string(kWidth) + "x" +
        std::to_string(kHeight) + ":rate=1 -frames:v 1 " + (workFolder / "a.png").string() +
        " && ffmpeg -v error -y -f lavfi -i mandelbrot=size=" + std::to_string(kWidth) + "x" +
        std::to_string(kHeight) + ":rate=1 -frames:v 1 " + (workFolder / "b.png").string();
    if (std::system(pictures.c_str()) != 0) return 1;
    int status = 1;
    try {
        ObsHeadless headless(kWidth, kHeight);
        obs = &headless;
        const obs_source_info info = toneInfo();
        obs_register_source(&info);
        status = RUN_ALL_TESTS();
        obs = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "obs_transition_test: %s\n", e.what());
    }
    fs::remove_all(workFolder);
    return status;
}
