// granulix render and sheet, run as a program, against the module called
// directly with the same requests.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <tuple>

#include <sys/stat.h>

#include "program_runner.h"
#include "settings_file.h"
#include "test_pictures.h"

namespace granulix::testing {
namespace {

constexpr int32_t kWidth = 37, kHeight = 23;  // odd: rows carry padding

std::string frameName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "f-%04d.png", i);
    return name;
}

float progressOf(int i, int n) { return float(double(i) / double(n - 1)); }

// Top-down RGB to the raw output's top-down BGR.
std::vector<uint8_t> asBgr(const Picture& p) {
    std::vector<uint8_t> out(p.rgb.size());
    for (std::size_t i = 0; i < p.rgb.size(); i += 3) {
        out[i] = p.rgb[i + 2];
        out[i + 1] = p.rgb[i + 1];
        out[i + 2] = p.rgb[i];
    }
    return out;
}

struct RenderCase {
    const char* name;
    int32_t fieldMode;
    std::vector<int32_t> region;          // x, y from the top left, width, height; empty: all
    std::vector<std::string> sets;        // --set assignments
    void (*sameChange)(EffectSettings&);  // what those assignments do
    int jobs;
};
void PrintTo(const RenderCase& c, std::ostream* os) { *os << c.name; }

class RenderToPng : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderToPng, FramesEqualWhatTheModuleRendersForTheSameRequest) {
    const RenderCase& c = GetParam();
    ScratchFolder dir;
    const Picture a = randomPicture(kWidth, kHeight, 11), b = randomPicture(kWidth, kHeight, 12);
    writePng(dir / "a.png", a);
    writePng(dir / "b.png", b);

    // A settings file with a look of its own and data in the reserved bytes.
    EffectSettings settings = moduleDefaults();
    settings.speedVariance = 180;
    settings.delay = 120;
    settings.timeline = 100;
    for (std::size_t i = 0; i < sizeof settings.reserved168; ++i)
        settings.reserved168[i] = uint8_t(i);
    ASSERT_EQ(saveSettingsFile(dir / "look.qlb", settings), SettingsFileStatus::kOk);

    constexpr int kFrames = 6;
    std::vector<std::string> args = {"render",
                                     dir / "a.png",
                                     dir / "b.png",
                                     "-o",
                                     dir / "f-%04d.png",
                                     "--frames",
                                     std::to_string(kFrames),
                                     "--settings",
                                     dir / "look.qlb",
                                     "--field-mode",
                                     std::to_string(c.fieldMode),
                                     "--jobs",
                                     std::to_string(c.jobs)};
    for (const std::string& s : c.sets) args.insert(args.end(), {"--set", s});
    ModuleRegion region{0, 0, kWidth, kHeight};
    if (!c.region.empty()) {
        args.insert(
            args.end(),
            {"--region", std::to_string(c.region[0]) + "," + std::to_string(c.region[1]) + "," +
                             std::to_string(c.region[2]) + "," + std::to_string(c.region[3])});
        region = {c.region[0], kHeight - c.region[1] - c.region[3], c.region[2], c.region[3]};
    }
    const ProgramRun run = runGranulix(args);
    ASSERT_EQ(run.status, 0) << run.errors;
    // Standard error is no terminal here: a summary line, no progress bar.
    EXPECT_EQ(run.errors.find('\r'), std::string::npos) << run.errors;

    c.sameChange(settings);
    std::vector<std::string> expectedNames = {"a.png", "b.png"};
    for (int i = 0; i < kFrames; ++i) expectedNames.push_back(frameName(i));
    expectedNames.push_back("look.qlb");
    EXPECT_EQ(dir.names(), expectedNames);

    for (int i = 0; i < kFrames; ++i) {
        const Picture expected =
            renderDirectly(a, b, progressOf(i, kFrames), c.fieldMode, region, settings);
        EXPECT_TRUE(readPng(dir / frameName(i)) == expected) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cli, RenderToPng,
                         ::testing::Values(RenderCase{"WholeFramesWithGravity",
                                                      0,
                                                      {},
                                                      {"gravity=40"},
                                                      [](EffectSettings& s) { s.gravity = 40; },
                                                      2},
                                           RenderCase{"FirstFieldInARegion",
                                                      1,
                                                      {3, 2, 20, 15},
                                                      {"cellWidth=1", "cellheight=1", "wind=170"},
                                                      [](EffectSettings& s) {
                                                          s.cellWidth = s.cellHeight = 1;
                                                          s.wind = 170;
                                                      },
                                                      3},
                                           RenderCase{"SecondFieldBandsAndRed2Delay",
                                                      2,
                                                      {0, 5, kWidth, 10},
                                                      {"cellFlags=1", "cellWidth=5", "cellHeight=3",
                                                       "sourceBindings[2].kind=Red2",
                                                       "sourceBindings[0].invert=1"},
                                                      [](EffectSettings& s) {
                                                          s.cellFlags = 1, s.cellWidth = 5,
                                                          s.cellHeight = 3;
                                                          s.sourceBindings[2].kind = 4;
                                                          s.sourceBindings[0].invert = 1;
                                                      },
                                                      1}),
                         [](const auto& tested) { return std::string(tested.param.name); });

TEST(Cli, ShortClipsHoldTheirLastFrameAndPicturesStandForEveryFrame) {
    ScratchFolder dir;
    const Picture a0 = randomPicture(kWidth, kHeight, 21), a1 = randomPicture(kWidth, kHeight, 22);
    const Picture b = randomPicture(kWidth, kHeight, 23);
    writePng(dir / "a-0.png", a0);  // a two-frame clip, as an image sequence
    writePng(dir / "a-1.png", a1);
    writePng(dir / "b.png", b);
    const ProgramRun run = runGranulix({"render", dir / "a-%d.png", dir / "b.png", "-o",
                                        dir / "f-%04d.png", "--frames", "5", "-q"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    const EffectSettings defaults = moduleDefaults();
    for (int i = 0; i < 5; ++i) {
        const Picture expected = renderDirectly(i == 0 ? a0 : a1, b, progressOf(i, 5), 0,
                                                {0, 0, kWidth, kHeight}, defaults);
        EXPECT_TRUE(readPng(dir / frameName(i)) == expected) << "frame " << i;
    }
}

TEST(Cli, BothClipsTakeTheSizeAskedForOrClipAs) {
    ScratchFolder dir;
    writePng(dir / "a.png", randomPicture(kWidth, kHeight, 31));
    writePng(dir / "b.png", randomPicture(16, 16, 32));
    ProgramRun run = runGranulix({"render", dir / "a.png", dir / "b.png", "-o", dir / "s-%d.png",
                                  "--frames", "2", "--size", "20x12", "-q"});
    ASSERT_EQ(run.status, 0) << run.errors;
    Picture p = readPng(dir / "s-1.png");
    EXPECT_EQ(p.width, 20);
    EXPECT_EQ(p.height, 12);

    run = runGranulix(
        {"render", dir / "a.png", dir / "b.png", "-o", dir / "t-%d.png", "--frames", "2", "-q"});
    ASSERT_EQ(run.status, 0) << run.errors;
    p = readPng(dir / "t-1.png");
    EXPECT_EQ(p.width, kWidth);
    EXPECT_EQ(p.height, kHeight);
}

TEST(Cli, JobsDoNotChangeTheFrames) {
    ScratchFolder dir;
    const Picture a = randomPicture(kWidth, kHeight, 41), b = randomPicture(kWidth, kHeight, 42);
    writePng(dir / "a.png", a);
    writePng(dir / "b.png", b);
    constexpr int kFrames = 7;
    const std::vector<std::string> common = {
        "render",   dir / "a.png",           dir / "b.png", "-o",         "-",
        "--frames", std::to_string(kFrames), "--set",       "cellWidth=1"};
    auto withJobs = [&](const char* jobs) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--jobs", jobs});
        return runGranulix(args);
    };
    const ProgramRun one = withJobs("1"), two = withJobs("2");
    ASSERT_EQ(one.status, 0) << one.errors;
    ASSERT_EQ(two.status, 0) << two.errors;
    EXPECT_EQ(one.output, two.output);

    // The raw frames are the module's, top line first, blue green red.
    EffectSettings settings = moduleDefaults();
    settings.cellWidth = 1;
    std::vector<uint8_t> expected;
    for (int i = 0; i < kFrames; ++i) {
        const std::vector<uint8_t> frame = asBgr(
            renderDirectly(a, b, progressOf(i, kFrames), 0, {0, 0, kWidth, kHeight}, settings));
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_TRUE(one.output == expected);

    // The built-in clips too.
    const std::vector<std::string> builtin = {"render", "-o",       "-", "--size",
                                              "64x36",  "--frames", "6"};
    std::vector<std::string> args = builtin;
    args.insert(args.end(), {"-j", "1"});
    const ProgramRun builtinOne = runGranulix(args);
    args = builtin;
    args.insert(args.end(), {"-j", "2"});
    const ProgramRun builtinTwo = runGranulix(args);
    ASSERT_EQ(builtinOne.status, 0) << builtinOne.errors;
    EXPECT_EQ(builtinOne.output.size(), 6u * 64 * 36 * 3);
    EXPECT_EQ(builtinOne.output, builtinTwo.output);
}

TEST(Cli, OptionsReadAlikeHoweverTheyAreWritten) {
    ScratchFolder dir;
    writePng(dir / "a.png", randomPicture(kWidth, kHeight, 51));
    writePng(dir / "b.png", randomPicture(kWidth, kHeight, 52));
    const std::string a = dir / "a.png", b = dir / "b.png";
    const std::vector<std::vector<std::string>> spellings = {
        {"render", a, b, "--output", "-", "--frames", "3", "--jobs", "2", "--set", "gravity=9"},
        {"render", "--output=-", "--frames=3", "--jobs=2", "--set=gravity=9", a, b},
        {"render", "-o-", "-n3", "-j2", a, "--set", "gravity=9", b},
        {"render", "-qj2", "-n", "3", "-o", "-", "--set", "gravity=9", "--", a, b},
    };
    const ProgramRun first = runGranulix(spellings.front());
    ASSERT_EQ(first.status, 0) << first.errors;
    EXPECT_EQ(first.output.size(), 3u * kWidth * kHeight * 3);
    for (const auto& args : spellings) {
        const ProgramRun run = runGranulix(args);
        EXPECT_EQ(run.status, 0) << args[2] << ": " << run.errors;
        EXPECT_TRUE(run.output == first.output) << args[2];
    }
}

// The number just before `unit` at its last appearance in `text`; -1 without one.
double lastFigureBefore(const std::string& text, const std::string& unit) {
    const std::size_t end = text.rfind(unit);
    if (end == std::string::npos) return -1;
    const std::size_t start = text.find_last_of(" (", end - 1) + 1;
    return std::stod(text.substr(start, end - start));
}

TEST(Cli, TheProgressBarEndsOnTheSummarysFigure) {
    ScratchFolder dir;
    // A video output, so that the encoder has a tail to finish after the last frame.
    const std::vector<std::string> args = {"render", "-o", dir / "out.mp4", "--size", "320x240",
                                           "-n",     "12"};
    const ProgramRun onTerminal = runGranulix(args, true);
    ASSERT_EQ(onTerminal.status, 0) << onTerminal.errors;
    const std::string& shown = onTerminal.errors;
    ASSERT_NE(shown.find("\r[####"), std::string::npos) << shown;
    EXPECT_NE(shown.rfind("12/12 frames"), std::string::npos) << shown;
    const double barFps = lastFigureBefore(shown, " fps"),
                 summaryFps = lastFigureBefore(shown, " frames/s");
    EXPECT_GT(summaryFps, 0) << shown;
    EXPECT_EQ(barFps, summaryFps) << shown;
    EXPECT_LT(shown.rfind(" fps"), shown.find("granulix: ")) << "the summary comes after the bar";

    // Into a file or a pipe: no bar, the summary alone.
    const ProgramRun intoFile = runGranulix(args);
    ASSERT_EQ(intoFile.status, 0) << intoFile.errors;
    EXPECT_EQ(intoFile.errors.find('\r'), std::string::npos) << intoFile.errors;
    EXPECT_EQ(
        intoFile.errors.rfind("granulix: " + dir / "out.mp4" + ": 12 frames of 320x240 in ", 0), 0u)
        << intoFile.errors;
}

TEST(Cli, VideoOutputsPlayEveryFrameForItsWholeTime) {
    ScratchFolder dir;
    constexpr const char* kBt709 = "tv/bt709/bt709/bt709";
    struct Output {
        const char* name;
        const char* codec;
        const char* fps;
        const char* size;     // asked for
        const char* written;  // colour at half resolution (4:2:0) takes even sizes only
        std::vector<std::string> encoding;
        const char* pixelFormat;
        const char* colour;
    };
    const std::vector<Output> outputs = {
        {"clip.mp4", "h264", "30000/1001", "64x36", "64x36", {}, "yuv420p", kBt709},
        {"clip.mkv", "h264", "30000/1001", "64x36", "64x36", {}, "yuv420p", kBt709},
        {"clip.mov", "h264", "30000/1001", "64x36", "64x36", {}, "yuv420p", kBt709},
        {"clip.webm", "vp9", "25", "64x36", "64x36", {}, "yuv420p", kBt709},
        {"odd.mp4", "h264", "24", "63x35", "62x34", {}, "yuv420p", kBt709},
        {"full.mp4",
         "h264",
         "25",
         "63x35",
         "63x35",
         {"--pix-fmt", "yuv444p", "--crf", "30", "--preset", "veryfast", "--encoder-option",
          "tune=film", "--encoder-option", "g=2"},
         "yuv444p",
         kBt709},
        {"hevc.mkv",
         "hevc",
         "25",
         "64x36",
         "64x36",
         {"--codec", "h265", "--preset", "fast", "--encoder-option", "x265-params=bframes=2"},
         "yuv420p",
         kBt709},
        {"vp9.mp4",
         "vp9",
         "25",
         "64x36",
         "64x36",
         {"--codec", "vp9", "--crf", "40"},
         "yuv420p",
         kBt709},
        {"av1.webm",
         "av1",
         "25",
         "64x36",
         "64x36",
         {"--codec", "av1", "--encoder-option", "cpu-used=8"},
         "yuv420p",
         kBt709},
        {"pro.mov",
         "prores",
         "25",
         "64x36",
         "64x36",
         {"--codec", "prores", "--encoder-option", "profile=lt"},
         "yuv422p10le",
         kBt709},
        {"lossless.mkv",
         "ffv1",
         "25",
         "64x36",
         "64x36",
         {"--codec", "ffv1"},
         "bgr0",
         "pc/gbr/bt709/bt709"},
    };
    for (const Output& o : outputs) {
        std::vector<std::string> args = {"render", "-o",   dir / o.name, "--frames", "5",
                                         "--size", o.size, "--fps",      o.fps};
        args.insert(args.end(), o.encoding.begin(), o.encoding.end());
        const ProgramRun run = runGranulix(args);
        ASSERT_EQ(run.status, 0) << o.name << ": " << run.errors;
        // Only the program's own lines: none of what encoder libraries print.
        for (std::size_t at = 0; at < run.errors.size(); at = run.errors.find('\n', at) + 1)
            EXPECT_EQ(run.errors.compare(at, 10, "granulix: "), 0) << run.errors;
        const VideoFacts facts = probeVideo(dir / o.name);
        EXPECT_EQ(facts.frames, 5) << o.name;
        EXPECT_EQ(facts.codec, o.codec) << o.name;
        EXPECT_EQ(facts.pixelFormat, o.pixelFormat) << o.name;
        EXPECT_EQ(facts.colour, o.colour) << o.name;
        EXPECT_EQ(std::to_string(facts.width) + "x" + std::to_string(facts.height), o.written)
            << o.name;
        const std::string rate =
            std::string(o.fps).find('/') == std::string::npos ? std::string(o.fps) + "/1" : o.fps;
        EXPECT_EQ(facts.rate, rate) << o.name;
        // WebM and Matroska keep time in milliseconds.
        const double rateValue =
            std::stod(rate.substr(0, rate.find('/'))) / std::stod(rate.substr(rate.find('/') + 1));
        EXPECT_NEAR(facts.duration, 5 / rateValue, 0.0015) << o.name;
        EXPECT_EQ(run.errors.find("not " + std::string(o.size)) != std::string::npos,
                  std::string(o.size) != o.written)
            << run.errors;
    }
    EXPECT_EQ(dir.names().size(), outputs.size());

    // Videos as inputs: clip B is fitted into clip A's frame, and the output
    // keeps clip A's rate and colour tags, and its colours: a full-range grey
    // of 191 is shown as 191 again. ProRes cannot say it is full range: its
    // pixels are made limited and tagged so.
    const std::string grey = "color=c=0xBFBFBF:s=64x36:r=30000/1001:d=0.3",
                      fullRange = "scale=out_range=pc:out_color_matrix=bt601";
    const ProgramRun tagged = runProgram({"ffmpeg",    "-v",
                                          "error",     "-f",
                                          "lavfi",     "-i",
                                          grey,        "-vf",
                                          fullRange,   "-c:v",
                                          "libx264",   "-pix_fmt",
                                          "yuv420p",   "-color_range",
                                          "pc",        "-colorspace",
                                          "bt470bg",   "-color_trc",
                                          "smpte170m", "-color_primaries",
                                          "bt470bg",   dir / "tagged.mp4"});
    ASSERT_EQ(tagged.status, 0) << tagged.errors;
    for (const auto& [name, codec, colour] :
         {std::tuple{"again.mkv", "h264", "pc/bt470bg/smpte170m/bt470bg"},
          std::tuple{"again.mov", "prores", "tv/bt470bg/smpte170m/bt470bg"}}) {
        const ProgramRun run = runGranulix({"render", dir / "tagged.mp4", dir / "odd.mp4", "-o",
                                            dir / name, "--frames", "8", "-q", "--codec", codec});
        ASSERT_EQ(run.status, 0) << run.errors;
        const VideoFacts facts = probeVideo(dir / name);
        EXPECT_EQ(facts.frames, 8);
        EXPECT_EQ(facts.width, 64);
        EXPECT_EQ(facts.height, 36);
        EXPECT_EQ(facts.rate, "30000/1001");
        EXPECT_EQ(facts.colour, colour);
        const ProgramRun shown = runProgram({"ffmpeg", "-v", "error", "-i", dir / name, "-frames:v",
                                             "1", "-pix_fmt", "rgb24", "-f", "rawvideo", "-"});
        ASSERT_EQ(shown.output.size(), 64u * 36 * 3) << shown.errors;
        const auto [darkest, lightest] =
            std::minmax_element(shown.output.begin(), shown.output.end());
        EXPECT_GE(*darkest, 188) << name;
        EXPECT_LE(*lightest, 194) << name;
    }
}

TEST(Cli, ProgressForScriptsComesInFfmpegsBlocks) {
    ScratchFolder dir;
    const ProgramRun run = runGranulix({"render", "-o", dir / "out.mkv", "--size", "64x36", "-n",
                                        "12", "-q", "--fps", "24", "--progress", "-"});
    ASSERT_EQ(run.status, 0) << run.errors;
    const std::vector<std::string> keys = {"frame",       "fps",         "bitrate",  "total_size",
                                           "out_time_us", "out_time_ms", "out_time", "dup_frames",
                                           "drop_frames", "speed",       "progress"};
    std::vector<std::map<std::string, std::string>> blocks(1);
    std::vector<std::string> order;
    const std::string text(run.output.begin(), run.output.end());
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos) << "every line ends";
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t eq = line.find('=');
        ASSERT_NE(eq, std::string::npos) << line;
        blocks.back()[line.substr(0, eq)] = line.substr(eq + 1);
        order.push_back(line.substr(0, eq));
        if (line.substr(0, eq) == "progress") {
            EXPECT_EQ(order, keys);
            order.clear();
            blocks.emplace_back();
        }
    }
    blocks.pop_back();
    ASSERT_FALSE(blocks.empty());
    for (std::size_t i = 0; i + 1 < blocks.size(); ++i)
        EXPECT_EQ(blocks[i]["progress"], "continue");
    const auto& last = blocks.back();
    EXPECT_EQ(last.at("progress"), "end");
    EXPECT_EQ(last.at("frame"), "12");
    EXPECT_EQ(last.at("out_time_us"), "500000");
    EXPECT_EQ(last.at("out_time"), "00:00:00.500000");
    EXPECT_EQ(last.at("total_size"), std::to_string(readBytes(dir / "out.mkv").size()));
}

TEST(Cli, PlayHandsFfplayTheSizeAndRateOrSaysItIsMissing) {
    ScratchFolder dir;
    ProgramRun run =
        runGranulix({"play", "--size", "64x36", "--fps", "30000/1001", "-n", "4", "--dry-run"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(std::string(run.output.begin(), run.output.end()),
              "ffplay -hide_banner -loglevel error -window_title granulix -f rawvideo "
              "-pixel_format bgr24 "
              "-video_size 64x36 -framerate 30000/1001 -\n");
    run = runGranulix({"play", "--size", "64x36", "-n", "4"}, {"PATH=" + dir.path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors.rfind(
                  "granulix: granulix play shows the transition with FFmpeg's ffplay, which is "
                  "not installed",
                  0),
              0u)
        << run.errors;
}

// `count` random pictures of the test size, from seeds first, first + 1, ...
std::vector<Picture> randomClip(int count, uint32_t first) {
    std::vector<Picture> clip;
    for (int i = 0; i < count; ++i)
        clip.push_back(randomPicture(kWidth, kHeight, first + uint32_t(i)));
    return clip;
}

// The raw frames of a run against the module fed with the clips' pictures
// `pictureA(i)` and `pictureB(i)` for frame i.
void expectRawFrames(const ProgramRun& run, int frames,
                     const std::function<const Picture&(int)>& pictureA,
                     const std::function<Picture(int)>& pictureB, const EffectSettings& settings) {
    ASSERT_EQ(run.status, 0) << run.errors;
    std::vector<uint8_t> expected;
    for (int i = 0; i < frames; ++i) {
        const Picture& a = pictureA(i);
        const std::vector<uint8_t> frame = asBgr(renderDirectly(
            a, pictureB(i), progressOf(i, frames), 0, {0, 0, a.width, a.height}, settings));
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_TRUE(run.output == expected);
}

TEST(Cli, ClipsArePlayedByTimeAtTheirOwnRates) {
    ScratchFolder dir;
    const std::vector<Picture> a = randomClip(6, 300), b = randomClip(16, 400);
    writeClip(dir / "a.mov", a, 25, 1);
    writeClip(dir / "b.mov", b, 60, 1);
    const EffectSettings defaults = moduleDefaults();
    struct Case {
        std::vector<std::string> fps;  // extra arguments
        int numerator, denominator;    // output frame i shows second i * d / n
    };
    for (const Case& c :
         {Case{{}, 25, 1}, Case{{"--fps", "50"}, 50, 1}, Case{{"--fps", "10"}, 10, 1}}) {
        std::vector<std::string> args = {
            "render", dir / "a.mov", dir / "b.mov", "-o", "-", "--frames", "6"};
        args.insert(args.end(), c.fps.begin(), c.fps.end());
        const ProgramRun run = runGranulix(args);
        // Picture k of a clip at r frames/s is on screen from second k / r on.
        auto shown = [&](const std::vector<Picture>& clip, int rate, int i) -> const Picture& {
            const int64_t k = int64_t(i) * rate * c.denominator / c.numerator;
            return clip[std::size_t(std::min<int64_t>(k, int64_t(clip.size()) - 1))];
        };
        expectRawFrames(
            run, 6, [&](int i) -> const Picture& { return shown(a, 25, i); },
            [&](int i) { return shown(b, 60, i); }, defaults);
        EXPECT_NE(run.errors.find("clip A runs at 25 frames/s and clip B at 60 frames/s"),
                  std::string::npos)
            << run.errors;
    }
}

TEST(Cli, AnEditShowsClipAThenTheTransitionThenClipB) {
    ScratchFolder dir;
    const std::vector<Picture> a = randomClip(12, 700), b = randomClip(9, 800);
    writeClip(dir / "a.mov", a, 25, 1);
    writeClip(dir / "b.mov", b, 25, 1);
    const Picture still = randomPicture(kWidth, kHeight, 900);
    writePng(dir / "still.png", still);
    const EffectSettings defaults = moduleDefaults();
    struct Case {
        std::vector<std::string> args;
        double offset, duration;  // seconds
        int skippedA;             // pictures of A before the one on screen at --from-a
        int start, end, frames;   // the transition's frames, and all of the edit's
        const char* clipB = "b.mov";
    };
    for (const Case& c :
         {Case{{"--offset", "0.2", "--duration", "0.16"}, 0.2, 0.16, 0, 5, 9, 14},
          Case{
              {"--from-a", "0.08", "--offset", "00:00:00.3", "--duration", "0.1", "--to-b", "0.28"},
              0.3,
              0.1,
              2,
              8,
              10,
              15},
          // Between pictures 2 (0.08 s) and 3 (0.12 s); a still stands for
          // every moment, however far in it is cut.
          Case{{"--from-a", "0.1", "--offset", "0.2", "--duration", "0.12", "--from-b", "5"},
               0.2,
               0.12,
               2,
               5,
               8,
               8,
               "still.png"}}) {
        std::vector<std::string> args = {"render", dir / "a.mov", dir / c.clipB, "-o", "-", "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProgramRun run = runGranulix(args);
        ASSERT_EQ(run.status, 0) << run.errors;
        std::vector<uint8_t> expected;
        for (int k = 0; k < c.frames; ++k) {
            const Picture& fromA = a[std::size_t(std::min(k + c.skippedA, 11))];
            Picture frame = k < c.start                           ? fromA
                            : c.clipB == std::string("still.png") ? still
                                                                  : b[std::size_t(k - c.start)];
            if (k >= c.start && k < c.end) {
                const float progress = float((k - c.offset * 25.0) / (c.duration * 25.0));
                frame =
                    renderDirectly(fromA, frame, progress, 0, {0, 0, kWidth, kHeight}, defaults);
            }
            const std::vector<uint8_t> bytes = asBgr(frame);
            expected.insert(expected.end(), bytes.begin(), bytes.end());
        }
        EXPECT_EQ(run.output.size(), expected.size()) << c.args[1];
        EXPECT_TRUE(run.output == expected) << c.args[1];
    }
    const ProgramRun late = runGranulix({"render", dir / "a.mov", dir / "b.mov", "-o", "-",
                                         "--offset", "0.4", "--duration", "0.2"});
    EXPECT_EQ(late.status, 2);
    EXPECT_EQ(late.errors,
              "granulix: clip A lasts 0.480 s: --offset plus --duration must not pass its end\n");

    // Written losslessly in the clips' own pixel format and colours, the
    // frames outside the transition are the clips' decoded pictures, byte
    // for byte: passed on, not converted to the module's colours and back.
    // A clip whose file says nothing of its colours is read as players read
    // it (BT.601 at this size, limited range) and the output says so.
    auto yuv = [&](const std::string& path) {
        const ProgramRun run =
            runProgram({"ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-"});
        EXPECT_EQ(run.status, 0) << run.errors;
        return run.output;
    };
    for (const auto& [name, source, tags] :
         {std::tuple{"untagged-a.mkv", "testsrc2", std::vector<std::string>{}},
          std::tuple{"tagged-b.mkv", "testsrc",
                     std::vector<std::string>{"-colorspace", "smpte170m", "-color_range", "tv"}}}) {
        std::vector<std::string> words = {"ffmpeg",
                                          "-v",
                                          "error",
                                          "-f",
                                          "lavfi",
                                          "-i",
                                          std::string(source) + "=s=64x36:r=25:d=1",
                                          "-c:v",
                                          "ffv1",
                                          "-pix_fmt",
                                          "yuv420p"};
        words.insert(words.end(), tags.begin(), tags.end());
        words.push_back(dir / name);
        const ProgramRun made = runProgram(words);
        ASSERT_EQ(made.status, 0) << made.errors;
    }
    ASSERT_EQ(probeVideo(dir / "untagged-a.mkv").colour, "unknown/unknown/unknown/unknown");
    const ProgramRun lossless = runGranulix(
        {"render", dir / "untagged-a.mkv", dir / "tagged-b.mkv", "-o", dir / "lossless.mkv", "-q",
         "--offset", "0.4", "--duration", "0.2", "--codec", "ffv1", "--pix-fmt", "yuv420p"});
    ASSERT_EQ(lossless.status, 0) << lossless.errors;
    EXPECT_EQ(probeVideo(dir / "lossless.mkv").colour.rfind("tv/smpte170m/", 0), 0u);
    const std::vector<uint8_t> out = yuv(dir / "lossless.mkv"), fromA = yuv(dir / "untagged-a.mkv"),
                               fromB = yuv(dir / "tagged-b.mkv");
    const std::size_t frame = 64 * 36 * 3 / 2;
    ASSERT_EQ(out.size(), 35 * frame);
    ASSERT_EQ(fromB.size(), 25 * frame);
    auto same = [&](int k, const std::vector<uint8_t>& clip, int picture) {
        return std::equal(out.begin() + std::ptrdiff_t(k * frame),
                          out.begin() + std::ptrdiff_t((k + 1) * frame),
                          clip.begin() + std::ptrdiff_t(picture * frame));
    };
    for (int k = 0; k < 35; ++k) {
        const bool alone = k < 10 || k >= 15;  // the transition is frames 10 to 14
        EXPECT_EQ(same(k, k < 10 ? fromA : fromB, k < 10 ? k : k - 10), alone) << "frame " << k;
    }
}

// What ffprobe says of a file's first sound stream.
struct SoundFacts {
    std::string codec, rate, channels;
};

SoundFacts probeSound(const std::string& path) {
    const ProgramRun run =
        runProgram({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                    "stream=codec_name,sample_rate,channels", "-of", "csv=p=0", path});
    EXPECT_EQ(run.status, 0) << run.errors;
    std::string text(run.output.begin(), run.output.end());
    SoundFacts facts;
    for (std::string* field : {&facts.codec, &facts.rate, &facts.channels}) {
        const std::size_t end = std::min(text.find(','), text.find('\n'));
        if (end == std::string::npos) break;
        *field = text.substr(0, end);
        text.erase(0, end + 1);
    }
    return facts;
}

// A file's sound decoded, its first channel alone: its length, and its
// loudness (root mean square) in windows of a twentieth of a second.
struct SoundLevels {
    double seconds = 0;
    std::vector<double> levels;
};

SoundLevels soundLevels(const std::string& path) {
    constexpr int kRate = 44100;
    const ProgramRun run =
        runProgram({"ffmpeg", "-v", "error", "-i", path, "-map", "0:a", "-af", "pan=mono|c0=c0",
                    "-ar", std::to_string(kRate), "-f", "f32le", "-"});
    EXPECT_EQ(run.status, 0) << run.errors;
    std::vector<float> samples(run.output.size() / sizeof(float));
    std::memcpy(samples.data(), run.output.data(), samples.size() * sizeof(float));
    SoundLevels sound;
    sound.seconds = double(samples.size()) / kRate;
    const std::size_t window = kRate / 20;
    for (std::size_t at = 0; at + window <= samples.size(); at += window) {
        double sum = 0;
        for (std::size_t i = at; i < at + window; ++i) sum += double(samples[i]) * samples[i];
        sound.levels.push_back(std::sqrt(sum / double(window)));
    }
    return sound;
}

TEST(Cli, AnEditIsTimedAsXfadeAndItsSoundAsAcrossfade) {
    ScratchFolder dir;
    // Clip A's sound is louder than clip B's, so that the sound's level
    // shows where and how one gives way to the other.
    for (const std::vector<std::string>& make :
         {std::vector<std::string>{"-f", "lavfi", "-i", "testsrc=s=64x36:r=25:d=2", "-f", "lavfi",
                                   "-i", "sine=f=440:r=44100:d=2", "-ac", "2", "-c:v", "ffv1",
                                   "-c:a", "pcm_s16le", dir / "a.mkv"},
          std::vector<std::string>{"-f", "lavfi", "-i", "testsrc2=s=64x36:r=25:d=1.6", "-f",
                                   "lavfi", "-i", "sine=f=660:r=48000:d=1.6,volume=0.3", "-c:v",
                                   "ffv1", "-c:a", "pcm_s16le", dir / "b.mkv"},
          std::vector<std::string>{"-f", "lavfi", "-i", "testsrc2=s=64x36:r=25:d=1.6", "-c:v",
                                   "ffv1", dir / "silent.mkv"}}) {
        std::vector<std::string> words = {"ffmpeg", "-v", "error"};
        words.insert(words.end(), make.begin(), make.end());
        const ProgramRun made = runProgram(words);
        ASSERT_EQ(made.status, 0) << made.errors;
    }
    // a.mkv's sound is stereo, b.mkv's mono: the mix is stereo, and the
    // mono sound plays on both channels at its own level.
    struct Case {
        std::vector<std::string> args;
        const char* clipA;
        bool throughPipe;  // clip A is read from a named pipe, which can be read only once
        const char* clipB;
        const char* output;
        const char* codec;
        const char* rate;     // A's, unless the codec cannot take it
        const char* filters;  // the same edit for ffmpeg; silence is input 2
    };
    for (const Case& c : {Case{{"--offset", "1", "--duration", "0.5"},
                               "a.mkv",
                               false,
                               "b.mkv",
                               "edit.mp4",
                               "aac",
                               "44100",
                               "[0:v][1:v]xfade=offset=1:duration=0.5[v];[0:a]atrim=end=1.5[a0];"
                               "[1:a]pan=stereo|c0=c0|c1=c0[a1];"
                               "[a0][a1]acrossfade=d=0.5:c1=qsin:c2=qsin[a]"},
                          Case{{"--offset", "1", "--duration", "0.5"},
                               "b.mkv",
                               true,
                               "a.mkv",
                               "mono-first.mkv",
                               "aac",
                               "48000",
                               "[0:v][1:v]xfade=offset=1:duration=0.5[v];"
                               "[0:a]atrim=end=1.5,pan=stereo|c0=c0|c1=c0[a0];"
                               "[a0][1:a]acrossfade=d=0.5:c1=qsin:c2=qsin[a]"},
                          Case{{"--from-a", "0.4", "--offset", "00:00:00.8", "--duration", "0.4",
                                "--to-b", "1.2", "--audio-curve", "tri"},
                               "a.mkv",
                               false,
                               "silent.mkv",
                               "edit.webm",
                               "opus",
                               "48000",
                               "[0:v]trim=start=0.4,setpts=PTS-STARTPTS[va];[1:v]trim=end=1.2[vb];["
                               "va][vb]xfade=offset=0.8:"
                               "duration=0.4[v];[0:a]atrim=start=0.4:end=1.6,asetpts=PTS-STARTPTS["
                               "a0];[2:a]atrim=end=1.2[a1];"
                               "[a0][a1]acrossfade=d=0.4:c1=tri:c2=tri[a]"}}) {
        const std::string ours = dir / c.output, theirs = dir / (std::string("xfade-") + c.output);
        const std::string pipe = dir / "pipe";
        std::vector<std::string> args = {
            "render", c.throughPipe ? pipe : dir / c.clipA, dir / c.clipB, "-o", ours, "-q"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::optional<StartedProgram> writer;
        if (c.throughPipe) {
            ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
            writer.emplace(std::vector<std::string>{"timeout", "60", "sh", "-c",
                                                    "cat \"$0\" > \"$1\"", dir / c.clipA, pipe});
        }
        // Opened twice, a pipe would leave the program waiting for good.
        std::vector<std::string> words = {"timeout", "60"};
        for (const std::string& w : granulixCommand(args)) words.push_back(w);
        const ProgramRun run = runProgram(words);
        if (writer) {
            writer->wait();
            std::filesystem::remove(pipe);
        }
        ASSERT_EQ(run.status, 0) << run.errors;
        const ProgramRun reference = runProgram({"ffmpeg",
                                                 "-v",
                                                 "error",
                                                 "-i",
                                                 dir / c.clipA,
                                                 "-i",
                                                 dir / c.clipB,
                                                 "-f",
                                                 "lavfi",
                                                 "-i",
                                                 "anullsrc=r=44100:cl=stereo",
                                                 "-filter_complex",
                                                 c.filters,
                                                 "-map",
                                                 "[v]",
                                                 "-map",
                                                 "[a]",
                                                 "-c:a",
                                                 c.codec == std::string("aac") ? "aac" : "libopus",
                                                 theirs});
        ASSERT_EQ(reference.status, 0) << reference.errors;

        const VideoFacts pictures = probeVideo(ours), theirPictures = probeVideo(theirs);
        EXPECT_EQ(pictures.frames, theirPictures.frames) << c.output;
        EXPECT_NEAR(pictures.duration, theirPictures.duration, 0.001) << c.output;
        const SoundFacts facts = probeSound(ours);
        EXPECT_EQ(facts.codec, c.codec);
        EXPECT_EQ(facts.rate, c.rate);
        EXPECT_EQ(facts.channels, "2") << c.output;
        const SoundLevels sound = soundLevels(ours), theirSound = soundLevels(theirs);
        // A packet of AAC holds 1024 samples, one of Opus 20 ms.
        EXPECT_NEAR(sound.seconds, theirSound.seconds, 1024.0 / 44100) << c.output;
        const std::vector<double>&levels = sound.levels, &theirLevels = theirSound.levels;
        ASSERT_GE(levels.size(), theirLevels.size() - 1) << c.output;
        ASSERT_LE(levels.size(), theirLevels.size() + 1) << c.output;
        ASSERT_GT(levels.front(), 0.01);
        ASSERT_NE(levels.back(), levels.front());
        for (std::size_t i = 0; i < std::min(levels.size(), theirLevels.size()); ++i) {
            EXPECT_NEAR(levels[i], theirLevels[i], 0.004)
                << "at " << double(i) / 20 << " s: " << c.output;
        }
    }

    const ProgramRun run =
        runGranulix({"render", dir / "a.mkv", dir / "b.mkv", "-o", dir / "quiet.mkv", "-q",
                     "--offset", "1", "--duration", "0.5", "--no-audio"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(probeSound(dir / "quiet.mkv").codec, "");
    EXPECT_EQ(probeVideo(dir / "quiet.mkv").frames, 65);

    // play hands ffplay the same edit, pictures and sound, as one stream.
    const std::string player = "#!/bin/sh\nprintf '%s\\n' \"$*\" >\"" + dir / "args" +
                               "\"\nexec cat >\"" + dir / "stream.nut" + "\"\n";
    writeBytes(dir / "ffplay", std::vector<uint8_t>(player.begin(), player.end()));
    std::filesystem::permissions(dir / "ffplay", std::filesystem::perms::owner_all);
    const std::vector<std::string> edit = {dir / "a.mkv", dir / "b.mkv", "--offset", "1",
                                           "--duration",  "0.5",         "-q"};
    std::vector<std::string> words = {"play"};
    words.insert(words.end(), edit.begin(), edit.end());
    const ProgramRun played =
        runGranulix(words, {"PATH=" + dir.path().string() + ":" + std::getenv("PATH")});
    ASSERT_EQ(played.status, 0) << played.errors;
    const std::vector<uint8_t> args = readBytes(dir / "args");
    EXPECT_EQ(std::string(args.end() - 9, args.end()), "-f nut -\n");
    words[0] = "render";
    words.insert(words.end(), {"-o", "-"});
    const ProgramRun rendered = runGranulix(words);
    ASSERT_EQ(rendered.status, 0) << rendered.errors;
    const ProgramRun shown =
        runProgram({"ffmpeg", "-v", "error", "-i", dir / "stream.nut", "-map", "0:v", "-fps_mode",
                    "passthrough", "-f", "rawvideo", "-pix_fmt", "bgr24", "-"});
    ASSERT_EQ(shown.status, 0) << shown.errors;
    EXPECT_TRUE(shown.output == rendered.output);
    const SoundLevels heard = soundLevels(dir / "stream.nut"),
                      written = soundLevels(dir / "edit.mp4");
    EXPECT_NEAR(heard.seconds, written.seconds, 1024.0 / 44100);
    ASSERT_EQ(heard.levels.size(), written.levels.size());
    for (std::size_t i = 0; i < heard.levels.size(); ++i)
        EXPECT_NEAR(heard.levels[i], written.levels[i], 0.004) << "at " << double(i) / 20 << " s";
}

TEST(Cli, PicturesAreTurnedUprightAndPlacedByTheFitMode) {
    ScratchFolder dir;
    const Picture tall = randomPicture(16, 32, 501), wide = randomPicture(32, 16, 502);
    const Picture square = randomPicture(16, 16, 503), big = randomPicture(32, 32, 504);
    writePng(dir / "tall.png", tall);
    writePng(dir / "wide.png", wide);
    writePng(dir / "square.png", square);
    writePng(dir / "big.png", big);
    writeClip(dir / "turned.mov", {wide}, 30, 1, 90);
    EXPECT_EQ(probeVideo(dir / "turned.mov").rotation, -90);

    auto black = [](int32_t w, int32_t h) {
        return Picture{w, h, std::vector<uint8_t>(std::size_t(w) * h * 3)};
    };
    auto paste = [](Picture into, const Picture& p, int32_t left, int32_t top, int32_t fromTop) {
        for (int32_t y = 0; y < into.height; ++y) {
            if (y + fromTop - top < 0 || y + fromTop - top >= p.height || y < top) continue;
            std::memcpy(&into.rgb[(std::size_t(y) * into.width + left) * 3],
                        &p.rgb[std::size_t(y + fromTop - top) * p.width * 3],
                        std::size_t(p.width) * 3);
        }
        return into;
    };
    struct Case {
        const char* name;
        std::string clipA, clipB;
        std::vector<std::string> fit;
        Picture a, expectedB;
    };
    const std::vector<Case> cases = {
        // A phone clip tagged as turned comes out upright.
        {"turned", dir / "tall.png", dir / "turned.mov", {}, tall, turnedClockwise(wide)},
        // A square picture in a wide frame: bars left and right.
        {"pad",
         dir / "wide.png",
         dir / "square.png",
         {},
         wide,
         paste(black(32, 16), square, 8, 0, 0)},
        // Cropped instead: the middle rows of a larger square fill the frame.
        {"crop",
         dir / "wide.png",
         dir / "big.png",
         {"--fit", "crop"},
         wide,
         paste(black(32, 16), big, 0, 0, 8)},
    };
    const EffectSettings defaults = moduleDefaults();
    for (const Case& c : cases) {
        std::vector<std::string> args = {"render", c.clipA, c.clipB, "-o", "-", "--frames", "3"};
        args.insert(args.end(), c.fit.begin(), c.fit.end());
        SCOPED_TRACE(c.name);
        expectRawFrames(
            runGranulix(args), 3, [&](int) -> const Picture& { return c.a; },
            [&](int) { return c.expectedB; }, defaults);
    }
}

TEST(Cli, SoundThatIsLeftOutIsMentioned) {
    ScratchFolder dir;
    const ProgramRun made = runProgram(
        {"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=32x16:r=25:d=0.4", "-f",
         "lavfi", "-i", "sine=d=0.4", "-c:v", "ffv1", "-c:a", "pcm_s16le", dir / "sound.mkv"});
    ASSERT_EQ(made.status, 0) << made.errors;
    writePng(dir / "still.png", randomPicture(32, 16, 601));
    const ProgramRun run =
        runGranulix({"render", dir / "still.png", dir / "sound.mkv", "-o", "-", "--frames", "2"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_NE(run.errors.find("the sound of " + dir / "sound.mkv" + " is left out"),
              std::string::npos)
        << run.errors;
    // A still has no rate of its own to differ from the clip's.
    EXPECT_EQ(run.errors.find("frames/s and clip B"), std::string::npos) << run.errors;
}

// Whether `tile` appears, pixel for pixel, somewhere in `sheet`.
bool contains(const Picture& sheet, const Picture& tile) {
    const std::size_t rowBytes = std::size_t(tile.width) * 3;
    for (int32_t top = 0; top + tile.height <= sheet.height; ++top) {
        for (int32_t left = 0; left + tile.width <= sheet.width; ++left) {
            bool same = true;
            for (int32_t y = 0; y < tile.height && same; ++y) {
                same = std::memcmp(&sheet.rgb[(std::size_t(top + y) * sheet.width + left) * 3],
                                   &tile.rgb[std::size_t(y) * rowBytes], rowBytes) == 0;
            }
            if (same) return true;
        }
    }
    return false;
}

TEST(Cli, SheetShowsFramesSpreadOverTheTransition) {
    ScratchFolder dir;
    const Picture a = randomPicture(kWidth, kHeight, 51), b = randomPicture(kWidth, kHeight, 52);
    writePng(dir / "a.png", a);
    writePng(dir / "b.png", b);
    // A newline in the name stays inside the summary's one line.
    const ProgramRun run =
        runGranulix({"sheet", dir / "a.png", dir / "b.png", "-o", dir / "sheet\n.png", "--frames",
                     "9", "--count", "3", "--tile-width", "64"});
    ASSERT_EQ(run.status, 0) << run.errors;
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.png", "b.png", "sheet\n.png"}));
    EXPECT_EQ(run.errors.substr(0, run.errors.find('\n') + 1),
              "granulix: the tiles are 37 pixels wide, the frame's own width: --tile-width 64 "
              "would enlarge it\n");
    EXPECT_EQ(run.errors.find("granulix: " + dir / "sheet\\n.png: 3 frames of 37x23"),
              run.errors.find('\n') + 1)
        << run.errors;
    EXPECT_EQ(std::count(run.errors.begin(), run.errors.end(), '\n'), 2) << run.errors;
    const Picture sheet = readPng(dir / "sheet\n.png");
    // Tiles narrower than the frames would be resampled; these keep their size.
    const EffectSettings defaults = moduleDefaults();
    for (int frame : {0, 4, 8}) {
        const Picture expected =
            renderDirectly(a, b, progressOf(frame, 9), 0, {0, 0, kWidth, kHeight}, defaults);
        EXPECT_TRUE(contains(sheet, expected)) << "frame " << frame;
    }
    EXPECT_FALSE(contains(
        sheet, renderDirectly(a, b, progressOf(2, 9), 0, {0, 0, kWidth, kHeight}, defaults)));
}

}  // namespace
}  // namespace granulix::testing
