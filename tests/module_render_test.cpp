// Frames rendered through the loaded module against the literal way: the
// host frames converted pixel by pixel in the test, rendered with the
// reference renderer, and the chosen rows written back, byte for byte.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <climits>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "effect_settings.h"
#include "entry_points.h"
#include "literal_conversion.h"
#include "module_host.h"
#include "module_loader.h"
#include "moveable_memory.h"
#include "random_requests.h"
#include "work_block.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <unistd.h>
#endif

namespace granulix {
namespace {

using testing::expectedOutput;
using testing::HostFrame;
using testing::HostFrames;
using testing::RenderRecord;

// Work blocks of the render path linked into this program start out as junk
// while one of these lives.
struct Scribbling {
    Scribbling() { host::scribbleNewBlocks(true); }
    ~Scribbling() { host::scribbleNewBlocks(false); }
};

// Each request goes through the loaded module and through the render path
// linked into this program, whose work blocks start out as junk, so that any
// work pixel the conversion forgets to set shows.
class ModuleMatchesLiteralConversion : public ::testing::TestWithParam<testing::RenderCase> {
protected:
    Scribbling scribbling;
};

TEST_P(ModuleMatchesLiteralConversion, OverSettingsProgressAndRectangles) {
    const testing::RenderCase c = GetParam();
    std::mt19937 g(c.width * 7919 + c.height * 31 + c.fieldMode + 100);
    for (int round = 0; round < 32; ++round) {
        testing::RandomRequest request(c, round, g);
        HostFrames& f = request.frames;
        const RenderRecord& r = request.record;
        const std::vector<uint8_t> expected = expectedOutput(f, r, request.settings, c.fieldMode);
        const std::vector<uint8_t> a = f.a.storage, b = f.b.storage, out = f.out.storage;
        for (bool linked : {false, true}) {
            f.out.storage = out;
            std::vector<uint8_t> record = r.encode();
            ASSERT_EQ(linked ? host::applyEffect(1, record.data(), c.fieldMode)
                             : testing::module().applyEffect(1, record.data(), c.fieldMode),
                      1);
            ASSERT_EQ(f.out.storage, expected)
                << (linked ? "linked" : "module") << ", round " << round << ", progress "
                << r.progress << ", region " << r.regionX << "," << r.regionY << " "
                << r.regionWidth << "x" << r.regionHeight;
            ASSERT_EQ(f.a.storage, a) << "clip A was written";
            ASSERT_EQ(f.b.storage, b) << "clip B was written";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FrameSizesAndFieldModes, ModuleMatchesLiteralConversion,
                         ::testing::ValuesIn(testing::kRenderCases),
                         [](const ::testing::TestParamInfo<testing::RenderCase>& tested) {
                             return testing::renderCaseName(tested.param);
                         });

// The render path keeps its work block for the next call. A kept block that
// held a bigger frame, the other field mode or another rectangle must give
// the bytes of a fresh one (which starts out as junk here).
TEST(ModuleRender, AKeptWorkBlockGivesTheBytesOfAFreshOne) {
    Scribbling scribbling;
    std::mt19937 g(41);
    const testing::RenderCase calls[] = {{64, 33, 1}, {7, 5, 0},   {33, 17, 2}, {64, 33, 0},
                                         {5, 3, 1},   {21, 11, 0}, {6, 9, 1}};
    for (int round = 0; round < 3; ++round) {
        for (const testing::RenderCase& c : calls) {
            HostFrames f(c.width, c.height, uint32_t(g()));
            // Pixels, falling and drifting: what lies outside the rectangle
            // lands inside it.
            EffectSettings s = testing::randomModuleSettings(g);
            s.cellFlags = 0;
            s.cellWidth = s.cellHeight = 1;
            s.gravity = 255;
            s.wind = round * 127;
            RenderRecord r = f.request(0.6f, &s);
            if (c.width > 4 && c.height > 2) {
                r.regionX = c.width / 4;
                r.regionY = c.height / 3;
                r.regionWidth = c.width / 2 + round;
                r.regionHeight = c.height / 2;
            }
            const std::vector<uint8_t> expected = expectedOutput(f, r, s, c.fieldMode);
            const std::vector<uint8_t> out = f.out.storage;
            for (bool fresh : {false, true}) {
                if (fresh) host::releaseHeldWorkBlocks();
                f.out.storage = out;
                std::vector<uint8_t> record = r.encode();
                ASSERT_EQ(host::applyEffect(1, record.data(), c.fieldMode), 1);
                EXPECT_EQ(f.out.storage, expected)
                    << (fresh ? "fresh" : "kept") << " block, " << c.width << "x" << c.height
                    << " field " << c.fieldMode << ", round " << round;
            }
        }
    }
    EXPECT_EQ(host::heldWorkBlocks(), 1);
}

// Hosts may render several frames at once (the granulix program does): the
// calls share the kept blocks, and each must still give its own bytes.
TEST(ModuleRender, CallsOnSeveralThreadsAtOnceGiveTheirOwnBytes) {
    struct Call {
        std::unique_ptr<HostFrames> frames;
        EffectSettings settings;
        int32_t fieldMode = 0;
        std::vector<uint8_t> record, expected;
    };
    constexpr int kThreads = 4, kCalls = 16, kRepeats = 20;
    const testing::RenderCase sizes[] = {
        {40, 30, 0}, {17, 9, 1}, {64, 33, 2}, {8, 5, 0}, {23, 12, 1}};
    std::mt19937 g(5);
    std::vector<Call> calls(kCalls);
    for (int i = 0; i < kCalls; ++i) {
        const testing::RenderCase& c = sizes[i % 5];
        Call& call = calls[i];
        call.frames = std::make_unique<HostFrames>(c.width, c.height, g());
        call.settings = testing::randomModuleSettings(g);
        call.fieldMode = c.fieldMode;
        const RenderRecord r = call.frames->request(0.4f, &call.settings);
        call.expected = expectedOutput(*call.frames, r, call.settings, c.fieldMode);
        call.record = r.encode();
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < kRepeats; ++n) {
                for (int i = t; i < kCalls; i += kThreads) {
                    Call& call = calls[i];
                    if (host::applyEffect(1, call.record.data(), call.fieldMode) != 1 ||
                        call.frames->out.storage != call.expected) {
                        ++failures;
                    }
                }
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_LE(host::heldWorkBlocks(), host::kHeldBlocks);
}

TEST(ModuleRender, RowsOfWidths4And5AreTwelveAndSixteenBytes) {
    for (int32_t width : {4, 5}) {
        HostFrames f(width, 6, 40 + width);
        ASSERT_EQ(f.out.stride, width == 4 ? 12u : 16u);
        const EffectSettings s = [] {
            EffectSettings d{};
            fillDefaults(d);
            return d;
        }();
        const RenderRecord r = f.request(0.5f, &s);
        const std::vector<uint8_t> before = f.out.storage;
        const std::vector<uint8_t> expected = expectedOutput(f, r, s, 0);
        ASSERT_EQ(testing::applyRender(r, 0), 1);
        EXPECT_EQ(f.out.storage, expected) << "width " << width;
        for (int32_t y = 0; y < 6; ++y) {
            // Every pixel byte was written, no padding byte was.
            const size_t row = HostFrame::kGuard + y * f.out.stride;
            for (size_t i = 3 * width; i < f.out.stride; ++i) {
                EXPECT_EQ(f.out.storage[row + i], before[row + i]) << "padding, row " << y;
            }
        }
        EXPECT_NE(f.out.storage, before);
    }
}

TEST(ModuleRender, EmptyRectangleRendersAndWritesNothing) {
    for (int32_t which = 0; which < 4; ++which) {
        HostFrames f(9, 7, 50 + which);
        RenderRecord r = f.request(0.4f);
        if (which == 0) r.regionWidth = 0;
        if (which == 1) r.regionHeight = 0;
        if (which == 2) r.regionX = 9;  // starts right of the frame
        if (which == 3) r.regionY = 7;  // starts above it
        const std::vector<uint8_t> before = f.out.storage;
        EXPECT_EQ(testing::applyRender(r, 0), 1) << which;
        EXPECT_EQ(testing::applyRender(r, 1), 1) << which;
        EXPECT_EQ(f.out.storage, before) << which;
    }
}

TEST(ModuleRender, RectangleReachingOutsideIsClippedToTheFrame) {
    struct Region {
        int32_t x, y, w, h;
    };
    const Region regions[] = {{4, 2, 100, 100}, {0, 0, INT_MAX, INT_MAX}, {3, 1, -1, -1},
                              {-2, -2, 9, 9},   {INT_MAX, 0, 5, 5},       {0, 5, 1, 9}};
    EffectSettings s{};
    fillDefaults(s);
    for (const Region& g : regions) {
        for (int32_t fieldMode : {0, 2}) {
            HostFrames f(9, 6, 30);
            RenderRecord r = f.request(0.5f, &s);
            r.regionX = g.x;
            r.regionY = g.y;
            r.regionWidth = g.w;
            r.regionHeight = g.h;
            const std::vector<uint8_t> expected = expectedOutput(f, r, s, fieldMode);
            ASSERT_EQ(testing::applyRender(r, fieldMode), 1);
            EXPECT_EQ(f.out.storage, expected)
                << g.x << "," << g.y << " " << g.w << "x" << g.h << " field " << fieldMode;
        }
    }
}

TEST(ModuleRender, WorkPixelsOutsideTheRectangleAreZero) {
    // Gravity and wind carry clip A's pixels from outside the rectangle into
    // it: what they bring must be the 0 of the cleared work frame, not
    // whatever the work block held before.
    Scribbling scribbling;
    EffectSettings s{};
    fillDefaults(s);
    s.cellWidth = s.cellHeight = 1;
    s.gravity = 255;
    struct Region {
        int32_t x, y, w, h;
    };
    const Region regions[] = {{0, 0, 20, 6}, {0, 0, 10, 12}, {10, 0, 10, 12}, {4, 3, 12, 5}};
    for (int32_t wind : {0, 128, 255}) {
        s.wind = wind;
        for (const Region& g : regions) {
            for (int32_t fieldMode : {0, 1}) {
                HostFrames f(20, 12, 90);
                RenderRecord r = f.request(0.6f, &s);
                r.regionX = g.x;
                r.regionY = g.y;
                r.regionWidth = g.w;
                r.regionHeight = g.h;
                const std::vector<uint8_t> expected = expectedOutput(f, r, s, fieldMode);
                std::vector<uint8_t> record = r.encode();
                ASSERT_EQ(host::applyEffect(1, record.data(), fieldMode), 1);
                EXPECT_EQ(f.out.storage, expected) << "wind " << wind << ", region " << g.x << ","
                                                   << g.y << " field " << fieldMode;
            }
        }
    }
}

TEST(ModuleRender, FieldModesWriteTheirOwnRowsOfOneDoubleHeightRender) {
    EffectSettings s{};
    fillDefaults(s);
    s.cellWidth = s.cellHeight = 1;
    s.gravity = 200;
    HostFrames f1(16, 9, 60), f2(16, 9, 60), f3(16, 9, 60);
    const RenderRecord r1 = f1.request(0.45f, &s), r2 = f2.request(0.45f, &s),
                       r3 = f3.request(0.45f, &s);
    const std::vector<uint8_t> expected1 = expectedOutput(f1, r1, s, 1);
    const std::vector<uint8_t> expected2 = expectedOutput(f2, r2, s, 2);
    ASSERT_EQ(testing::applyRender(r1, 1), 1);
    ASSERT_EQ(testing::applyRender(r2, 2), 1);
    ASSERT_EQ(testing::applyRender(r3, 3), 1);
    EXPECT_EQ(f1.out.storage, expected1);
    EXPECT_EQ(f2.out.storage, expected2);
    EXPECT_NE(f1.out.storage, f2.out.storage) << "fields 1 and 2 should differ here";
    EXPECT_EQ(f3.out.storage, f1.out.storage) << "field mode 3 ends as field mode 1";
}

TEST(ModuleRender, NullSettingsRenderAsTheDefaults) {
    std::vector<uint8_t> defaults(kSettingsSize, 0);
    ASSERT_EQ(testing::module().getDefault(defaults.data()), 1);
    for (float progress : {0.0f, 0.3f, 0.7f, 1.0f}) {
        HostFrames withNull(23, 13, 70), withDefaults(23, 13, 70);
        ASSERT_EQ(testing::applyRender(withNull.request(progress, nullptr), 0), 1);
        ASSERT_EQ(testing::applyRender(withDefaults.request(progress, defaults.data()), 0), 1);
        EXPECT_EQ(withNull.out.storage, withDefaults.out.storage) << progress;
    }
}

TEST(ModuleRender, OutputMayBeOneOfTheClips) {
    // A host may render in place, over clip A or clip B.
    for (int over = 0; over < 2; ++over) {
        HostFrames separate(13, 9, 120), inPlace(13, 9, 120);
        HostFrame& clip = over == 0 ? inPlace.a : inPlace.b;
        separate.out.storage = clip.storage;  // same padding and guards
        ASSERT_EQ(testing::applyRender(separate.request(0.5f), 1), 1);
        RenderRecord r = inPlace.request(0.5f);
        r.output = clip.rows();
        ASSERT_EQ(testing::applyRender(r, 1), 1);
        EXPECT_EQ(clip.storage, separate.out.storage)
            << (over == 0 ? "over clip A" : "over clip B");
    }
}

#if !defined(_WIN32)
// Threads of this process, as the system lists them.
int threadCount() {
    int n = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(tasks)) n += e->d_name[0] != '.';
        closedir(tasks);
    }
    return n;
}

// The threads of this process once they are down to `count`, or what they
// are after ten seconds: a thread that has been joined may still be listed
// for a moment while the system reaps it.
int threadCountSettledAt(int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int n = threadCount();
    while (n != count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        n = threadCount();
    }
    return n;
}

// A copy of the module under a name of its own is a module of its own,
// loaded and unloaded apart from the one the other tests share.
TEST(ModuleRender, ThreadsComeOnFirstCallAndLeaveWithTheModule) {
    namespace fs = std::filesystem;
    const fs::path folder =
        fs::temp_directory_path() / ("granulix-threads-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::string copy = (folder / "granulix.so").string();
    {
        std::ifstream in(programFolder() + GRANULIX_MODULE_FILE, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
        ASSERT_TRUE(out.flush()) << "cannot copy the module to " << copy;
    }
    for (const char* threads : {"3", "1"}) {
        SCOPED_TRACE(std::string("GRANULIX_THREADS=") + threads);
        setenv("GRANULIX_THREADS", threads, 1);
        const int before = threadCount();
        {
            const ModuleLibrary module(copy);
            EXPECT_EQ(threadCount(), before) << "threads started as the module loaded";
            HostFrames f(64, 48, 130);
            std::vector<uint8_t> record = f.request(0.5f).encode();
            ASSERT_EQ(module.applyEffect(1, record.data(), 0), 1);
            ASSERT_EQ(module.applyEffect(1, record.data(), 0), 1);
            EXPECT_EQ(threadCount(), before + std::stoi(threads) - 1);
        }
        EXPECT_EQ(threadCountSettledAt(before), before)
            << "threads left behind by the unloaded module";
    }
    unsetenv("GRANULIX_THREADS");
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}
#endif

}  // namespace
}  // namespace granulix
