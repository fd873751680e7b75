// The setup call and its preview hook, run natively: the dialog is played by
// a runner that looks at the job, fetches previews, edits the settings copy
// and answers OK or Cancel.
#include "setup_call.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include "frame_server.h"
#include "frames.h"
#include "render_call.h"
#include "renderer.h"

namespace granulix {
namespace {

using testhost::Clip;
using testhost::Faults;
using testhost::FetchCall;
using testhost::FrameServer;

// Moveable memory that counts what it hands out, fills new blocks with
// garbage, and fails the n-th take or lock on request.
class TestMemory : public BlockMemory {
public:
    int failTakeAt = -1, failLockAt = -1;
    std::vector<std::size_t> taken;
    int locked = 0, outstanding = 0;

    void* take(std::size_t bytes) override {
        if (int(taken.size()) == failTakeAt) {
            taken.push_back(0);
            return nullptr;
        }
        taken.push_back(bytes);
        blocks_[next_].assign(bytes, 0xCD);
        ++outstanding;
        return reinterpret_cast<void*>(next_++);
    }
    void* lock(void* handle) override {
        if (locks_++ == failLockAt) return nullptr;
        ++locked;
        return blocks_.at(reinterpret_cast<uintptr_t>(handle)).data();
    }
    void unlock(void*) override { --locked; }
    void release(void* handle) override {
        blocks_.erase(reinterpret_cast<uintptr_t>(handle));
        --outstanding;
    }
    const std::vector<uint8_t>& block(int i) const { return blocks_.at(uintptr_t(i + 1)); }

private:
    std::map<uintptr_t, std::vector<uint8_t>> blocks_;
    uintptr_t next_ = 1;
    int locks_ = 0;
};

class TestRunner : public SetupDialogRunner {
public:
    std::function<int32_t(RenderJob&)> play = [](RenderJob&) { return 2; };
    int runs = 0;
    void* owner = nullptr;
    int32_t run(void* ownerWindow, RenderJob& job) override {
        ++runs;
        owner = ownerWindow;
        return play(job);
    }
};

std::vector<uint8_t> patternBlock(uint8_t seed) {
    std::vector<uint8_t> b(kSettingsSize);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(seed + i * 7);
    return b;
}

// The defaults, with the bytes that nothing reads filled with a pattern.
std::vector<uint8_t> defaultBlock() {
    std::vector<uint8_t> b = patternBlock(11);
    fillDefaults(*reinterpret_cast<EffectSettings*>(b.data()));
    return b;
}

struct Scene {
    FrameServer server;
    std::vector<uint8_t> hostSettings = patternBlock(3);
    abi::SetupRequest request{};
    TestMemory memory;
    TestRunner runner;
    uint32_t baseUnits = 0x00100008;
    int owner = 0;

    explicit Scene(int32_t frames = 75, Clip a = Clip::generated(320, 240, 0),
                   Clip b = Clip::generated(320, 240, 1))
        : server(std::move(a), std::move(b)) {
        request.owner = reinterpret_cast<decltype(request.owner)>(&owner);
        request.frameCount = frames;
        request.context = server.context();
        request.fetch = FrameServer::fetch;
        request.settings = hostSettings.data();
    }
    int32_t run(int32_t fieldMode = 0) {
        return runSetupCall(request, fieldMode, {memory, baseUnits, runner});
    }
};

TEST(PreviewSize, OnlyTenByTwentyDialogUnitsGiveTheLargePreview) {
    const std::pair<uint32_t, PreviewSize> cases[] = {
        {0x0014000A, {288, 216}}, {0x00100008, {240, 180}}, {0x0014000B, {240, 180}},
        {0x0015000A, {240, 180}}, {0x000A0014, {240, 180}}, {0, {240, 180}},
        {0xFFFFFFFF, {240, 180}},
    };
    for (const auto& [units, size] : cases) {
        const PreviewSize got = previewSizeFor(units);
        EXPECT_EQ(got.width, size.width) << std::hex << units;
        EXPECT_EQ(got.height, size.height) << std::hex << units;
    }
}

// Each frame of W x H work pixels lies whole inside the block, word aligned,
// apart from the other two, with room for a frame header before the first;
// sizes far beyond the preview's show that nothing wraps. The two sizes the
// dialog uses ask the host for the byte counts it has always been asked for.
TEST(PreviewSize, BlockHoldsThreeSeparateFramesInsideIt) {
    struct Case {
        PreviewSize size;
        uint64_t hostBytes;  // 0: no fixed expectation
    };
    const Case cases[] = {{{240, 180}, 518620}, {{288, 216}, 746716}, {{1, 1}, 0},
                          {{7, 3}, 0},          {{65535, 65535}, 0},  {{INT32_MAX, 3}, 0}};
    for (const Case& c : cases) {
        const PreviewLayout l = previewLayoutFor(c.size);
        const uint64_t frameBytes = 4 * uint64_t(c.size.width) * uint64_t(c.size.height);
        EXPECT_EQ(l.frameBytes, frameBytes) << c.size.width << "x" << c.size.height;
        uint64_t starts[] = {l.outputAt, l.clipAAt, l.clipBAt};
        std::sort(std::begin(starts), std::end(starts));
        EXPECT_GE(starts[0], sizeof(abi::FrameHeader));
        for (size_t i = 0; i < 3; ++i) {
            const uint64_t end = starts[i] + frameBytes;
            EXPECT_EQ(starts[i] % 4, 0u) << c.size.width << "x" << c.size.height;
            EXPECT_LE(end, i + 1 < 3 ? starts[i + 1] : l.blockBytes)
                << c.size.width << "x" << c.size.height << " frame " << i;
        }
        if (c.hostBytes) {
            EXPECT_EQ(l.blockBytes, c.hostBytes);
        }
    }
}

TEST(SetupCall, FillsOneJobAndPublishesItWhileTheDialogRuns) {
    for (const uint32_t units : {0x00100008u, 0x0014000Au}) {
        Scene s;
        s.baseUnits = units;
        const PreviewSize size = previewSizeFor(units);
        const PreviewLayout layout = previewLayoutFor(size);
        s.runner.play = [&](RenderJob& job) {
            EXPECT_EQ(currentSetupJob, &job);
            EXPECT_EQ(job.duration, 75u);
            EXPECT_EQ(job.position, 0u);
            EXPECT_EQ(job.fieldMode, 2);
            EXPECT_EQ(job.width, size.width);
            EXPECT_EQ(job.height, size.height);
            EXPECT_EQ(job.regionX, 0u);
            EXPECT_EQ(job.regionY, 0u);
            EXPECT_EQ(job.regionWidth, uint32_t(size.width));
            EXPECT_EQ(job.regionHeight, uint32_t(size.height));
            EXPECT_EQ(job.bitCount, 24);
            const uint8_t* block = s.memory.block(0).data();
            EXPECT_EQ(reinterpret_cast<uint8_t*>(job.pixelsOut), block + layout.outputAt);
            EXPECT_EQ(reinterpret_cast<uint8_t*>(job.pixelsA), block + layout.clipAAt);
            EXPECT_EQ(reinterpret_cast<uint8_t*>(job.pixelsB), block + layout.clipBAt);
            EXPECT_EQ(reinterpret_cast<uint8_t*>(job.settings), s.memory.block(1).data());
            EXPECT_NE(reinterpret_cast<uint8_t*>(job.settings), s.hostSettings.data());
            EXPECT_EQ(std::memcmp(job.settings, s.hostSettings.data(), kSettingsSize), 0);
            EXPECT_EQ(job.host, &s.request);
            EXPECT_EQ(job.fetchPreview, &previewHook);
            // The whole preview block starts cleared, not with what the
            // memory held before.
            const std::vector<uint8_t>& b = s.memory.block(0);
            EXPECT_EQ(std::count(b.begin(), b.end(), 0), std::ptrdiff_t(b.size()));
            EXPECT_EQ(s.memory.locked, 2);
            return 2;
        };
        EXPECT_EQ(s.run(2), 0);
        EXPECT_EQ(s.runner.runs, 1);
        EXPECT_EQ(s.runner.owner, &s.owner);
        EXPECT_EQ(s.memory.taken,
                  (std::vector<std::size_t>{std::size_t(layout.blockBytes), kSettingsSize}));
        EXPECT_EQ(s.memory.outstanding, 0);
        EXPECT_EQ(s.memory.locked, 0);
        EXPECT_EQ(currentSetupJob, nullptr);
    }
}

TEST(SetupCall, OkWritesAllBytesBackAndAnythingElseLeavesTheHostAlone) {
    for (const int32_t answer : {1, 2, 0, 3, -1}) {
        Scene s;
        const std::vector<uint8_t> original = s.hostSettings;
        s.runner.play = [&](RenderJob& job) {
            auto* copy = reinterpret_cast<uint8_t*>(job.settings);
            copy[28] = 200;     // an edited field
            copy[423] ^= 0xFF;  // and the very last reserved byte
            // Whatever happens to the host's block meanwhile, OK replaces
            // all of it with the copy.
            std::fill(s.hostSettings.begin(), s.hostSettings.end(), uint8_t(0xAB));
            return answer;
        };
        const int32_t result = s.run();
        if (answer == 1) {
            EXPECT_EQ(result, 1);
            std::vector<uint8_t> expected = original;
            expected[28] = 200;
            expected[423] ^= 0xFF;
            EXPECT_EQ(s.hostSettings, expected);
        } else {
            EXPECT_EQ(result, 0) << answer;
            EXPECT_EQ(s.hostSettings, std::vector<uint8_t>(kSettingsSize, 0xAB)) << answer;
        }
        EXPECT_EQ(s.memory.outstanding, 0);
    }
}

TEST(SetupCall, OkWithoutEditsStillCopiesTheWholeBlock) {
    Scene s;
    const std::vector<uint8_t> original = s.hostSettings;
    s.runner.play = [&](RenderJob&) {
        s.hostSettings.assign(kSettingsSize, 0);
        return 1;
    };
    EXPECT_EQ(s.run(), 1);
    EXPECT_EQ(s.hostSettings, original);
}

TEST(SetupCall, MissingMemoryReleasesEverythingAndOpensNoDialog) {
    // take 0 = preview block, take 1 = settings copy; lock likewise.
    const std::pair<int, int> faults[] = {{0, -1}, {1, -1}, {-1, 0}, {-1, 1}};
    for (const auto& [take, lock] : faults) {
        Scene s;
        const std::vector<uint8_t> original = s.hostSettings;
        s.memory.failTakeAt = take;
        s.memory.failLockAt = lock;
        EXPECT_EQ(s.run(), 0);
        EXPECT_EQ(s.runner.runs, 0);
        EXPECT_EQ(s.memory.outstanding, 0) << take << " " << lock;
        EXPECT_EQ(s.memory.locked, 0);
        EXPECT_EQ(s.hostSettings, original);
        EXPECT_EQ(currentSetupJob, nullptr);
    }
}

TEST(SetupCall, RefusesARequestWithoutSettingsAndANestedSetup) {
    Scene s;
    s.request.settings = nullptr;
    EXPECT_EQ(s.run(), 0);
    EXPECT_TRUE(s.memory.taken.empty());

    Scene outer;
    Scene inner;
    const std::vector<uint8_t> innerOriginal = inner.hostSettings;
    inner.runner.play = [](RenderJob&) { return 1; };
    outer.runner.play = [&](RenderJob& job) {
        EXPECT_EQ(inner.run(), 0);
        EXPECT_EQ(currentSetupJob, &job);
        return 1;
    };
    EXPECT_EQ(outer.run(), 1);
    EXPECT_EQ(inner.runner.runs, 0);
    EXPECT_EQ(inner.hostSettings, innerOriginal);
}

TEST(SetupCall, NegativeLengthCountsAsNoFrames) {
    Scene s(-5);
    uint32_t duration = 99;
    s.runner.play = [&](RenderJob& job) {
        duration = job.duration;
        return 2;
    };
    s.run();
    EXPECT_EQ(duration, 0u);
}

// A packed 24-bit frame whose pixel at (column, row) spells out both.
std::vector<uint8_t> coordinateFrame(int32_t w, int32_t h) {
    const size_t rowBytes = static_cast<size_t>(abi::hostRowBytes(uint64_t(w)));
    std::vector<uint8_t> f(40 + rowBytes * size_t(h), 0xEE);
    const abi::FrameHeader header = abi::hostFrameHeader(w, h);
    std::memcpy(f.data(), &header, sizeof header);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            uint8_t* p = &f[40 + rowBytes * size_t(y) + 3 * size_t(x)];
            p[0] = uint8_t(x);
            p[1] = uint8_t((x >> 8) | (y << 4));
            p[2] = uint8_t(y >> 4);
        }
    return f;
}
uint32_t coordinate(uint32_t pixel, int& x, int& y) {
    x = int(pixel & 0xFF) | int((pixel >> 8) & 0x0F) << 8;
    y = int((pixel >> 12) & 0x0F) | int((pixel >> 16) & 0xFF) << 4;
    return pixel >> 24;
}

TEST(Shrink, PalSourceTakesEveryThirdColumnAndTheTruncatedRows) {
    const std::vector<uint8_t> frame = coordinateFrame(720, 576);
    std::vector<uint32_t> out(240 * 180);
    shrinkFrame(reinterpret_cast<const abi::FrameHeader*>(frame.data()), out.data(), 240, 180);
    const int rows[] = {0, 3, 6, 9, 12, 16, 19};
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 240; ++x) {
            int sx, sy;
            EXPECT_EQ(coordinate(out[y * 240 + x], sx, sy), 0u);
            EXPECT_EQ(sx, 3 * x);
            EXPECT_EQ(sy, rows[y]);
        }
}

TEST(Shrink, EverySizeSamplesTheTruncatedQuotientWithPaddedRows) {
    // Widths with every padding of a 24-bit row, and sources smaller than
    // the preview, which repeat their pixels.
    const std::pair<int32_t, int32_t> sizes[] = {
        {1, 1}, {2, 3}, {3, 5}, {5, 7}, {7, 2}, {100, 50}, {241, 181}, {720, 576}, {1920, 1081}};
    for (const auto& [w, h] : sizes) {
        for (const PreviewSize p : {PreviewSize{240, 180}, PreviewSize{288, 216}}) {
            const std::vector<uint8_t> frame = coordinateFrame(w, h);
            std::vector<uint32_t> out(std::size_t(p.width) * p.height);
            shrinkFrame(reinterpret_cast<const abi::FrameHeader*>(frame.data()), out.data(),
                        p.width, p.height);
            int bad = 0;
            for (int y = 0; y < p.height; ++y)
                for (int x = 0; x < p.width; ++x) {
                    int sx, sy;
                    coordinate(out[std::size_t(y) * p.width + x], sx, sy);
                    if (sx != int(int64_t(x) * w / p.width) || sy != int(int64_t(y) * h / p.height))
                        ++bad;
                }
            EXPECT_EQ(bad, 0) << w << "x" << h << " into " << p.width << "x" << p.height;
        }
    }
}

// Runs one setup call whose dialog calls the preview hook as told.
struct HookRun {
    Scene s;
    HookRun() { s.hostSettings = defaultBlock(); }
    HookRun(Clip clipA, Clip clipB) : s(75, std::move(clipA), std::move(clipB)) {
        s.hostSettings = defaultBlock();
    }
    std::vector<uint32_t> out, a, b;  // the preview frames after the last call
    std::vector<uint32_t> before;     // pixelsOut before the last call
    std::vector<int> results;
    RenderJob seen;

    void play(std::vector<uint32_t> positions, std::function<void(int)> beforeCall = nullptr) {
        s.runner.play = [&, positions, beforeCall](RenderJob& job) {
            const std::size_t n = std::size_t(job.width) * job.height;
            for (std::size_t i = 0; i < positions.size(); ++i) {
                if (beforeCall) beforeCall(int(i));
                before.assign(job.pixelsOut, job.pixelsOut + n);
                job.position = positions[i];
                results.push_back(job.fetchPreview(positions[i], &job));
            }
            out.assign(job.pixelsOut, job.pixelsOut + n);
            a.assign(job.pixelsA, job.pixelsA + n);
            b.assign(job.pixelsB, job.pixelsB + n);
            seen = job;
            return 2;
        };
        s.request.settings = s.hostSettings.data();
        s.run();
    }
};

std::vector<uint32_t> shrunk(const Clip& clip, int32_t position, int32_t w, int32_t h) {
    const std::vector<uint8_t> frame = clip.frameAt(position);
    std::vector<uint32_t> out(std::size_t(w) * h);
    shrinkFrame(reinterpret_cast<const abi::FrameHeader*>(frame.data()), out.data(), w, h);
    return out;
}

TEST(PreviewHook, AsksTheHostInOrderAndRendersTheShrunkFrames) {
    HookRun r;
    r.play({37});
    ASSERT_EQ(r.results, std::vector<int>{1});
    const uint32_t ctx = r.s.server.context();
    EXPECT_EQ(
        r.s.server.calls(),
        (std::vector<FetchCall>{{0, ctx, 0, 2}, {0, ctx, 37, 4}, {2, ctx, 37, 4}, {0, ctx, 0, 3}}));
    EXPECT_EQ(r.s.server.framesOutstanding(), 0u);

    EXPECT_EQ(r.a, shrunk(r.s.server.clipA(), 37, 240, 180));
    EXPECT_EQ(r.b, shrunk(r.s.server.clipB(), 37, 240, 180));
    std::vector<uint32_t> expected(r.out.size());
    EffectSettings settings{};
    std::memcpy(&settings, r.s.hostSettings.data(), kSettingsSize);
    RenderJob job = r.seen;
    std::vector<uint32_t> a = r.a, b = r.b;
    job.pixelsA = a.data();
    job.pixelsB = b.data();
    job.pixelsOut = expected.data();
    job.settings = &settings;
    job.position = 37;
    render(job);
    EXPECT_NE(r.out, r.b);  // the particles changed something at frame 37
    EXPECT_EQ(r.out, expected);
}

TEST(PreviewHook, ClipsOfDifferentSizesAreEachSampledWithTheirOwnSize) {
    for (const auto& [aw, ah, bw, bh] :
         {std::array<int32_t, 4>{640, 480, 33, 17}, std::array<int32_t, 4>{33, 17, 640, 480},
          std::array<int32_t, 4>{719, 575, 720, 576}}) {
        HookRun r(Clip::generated(aw, ah, 0), Clip::generated(bw, bh, 1));
        r.play({5});
        ASSERT_EQ(r.results, std::vector<int>{1});
        EXPECT_EQ(r.a, shrunk(r.s.server.clipA(), 5, 240, 180));
        EXPECT_EQ(r.b, shrunk(r.s.server.clipB(), 5, 240, 180));
    }
}

TEST(PreviewHook, RefusedFramesLeaveThePreviewAsItWas) {
    struct Case {
        const char* what;
        Faults faults;
        std::vector<int32_t> operations;  // after the successful first call
    };
    auto with = [](auto set) {
        Faults f;
        set(f);
        return f;
    };
    const Case cases[] = {
        {"prepare refused", with([](Faults& f) { f.refusePrepare = true; }), {2}},
        {"clip A of 16 bits", with([](Faults& f) { f.bitCountA = 16; }), {2, 4, 4, 3}},
        {"clip B of 32 bits", with([](Faults& f) { f.bitCountB = 32; }), {2, 4, 4, 3}},
        {"no clip A", with([](Faults& f) { f.nullFrameA = true; }), {2, 4, 4, 3}},
        {"no clip B", with([](Faults& f) { f.nullFrameB = true; }), {2, 4, 4, 3}},
        {"clip A zero wide", with([](Faults& f) { f.zeroSizeA = true; }), {2, 4, 4, 3}},
        {"clip B negative height", with([](Faults& f) { f.negativeHeightB = true; }), {2, 4, 4, 3}},
    };
    for (const Case& c : cases) {
        HookRun r;
        r.play({10, 20}, [&](int call) {
            if (call == 1) {
                r.s.server.setFaults(c.faults);
                r.s.server.clearCalls();
            }
        });
        EXPECT_EQ(r.results, (std::vector<int>{1, 0})) << c.what;
        std::vector<int32_t> ops;
        for (const FetchCall& call : r.s.server.calls()) ops.push_back(call.operation);
        EXPECT_EQ(ops, c.operations) << c.what;
        EXPECT_EQ(r.s.server.framesOutstanding(), 0u) << c.what;
        EXPECT_EQ(r.out, r.before) << c.what;
        EXPECT_EQ(r.a, shrunk(r.s.server.clipA(), 10, 240, 180)) << c.what;
        EXPECT_EQ(r.b, shrunk(r.s.server.clipB(), 10, 240, 180)) << c.what;
    }
}

TEST(PreviewHook, AFailedFirstFetchShowsBlack) {
    HookRun r;
    Faults f;
    f.refusePrepare = true;
    r.s.server.setFaults(f);
    r.play({0});
    EXPECT_EQ(r.results, std::vector<int>{0});
    EXPECT_EQ(r.out, std::vector<uint32_t>(r.out.size(), 0));
}

// A host that lends no callback gets a black preview and a working dialog.
TEST(PreviewHook, WithoutACallbackTheHookGivesUpAndTheDialogGoesOn) {
    Scene s;
    s.request.fetch = nullptr;
    int hook = -1;
    std::vector<uint32_t> out;
    s.runner.play = [&](RenderJob& job) {
        hook = job.fetchPreview(3, &job);
        out.assign(job.pixelsOut, job.pixelsOut + std::size_t(job.width) * job.height);
        job.settings->gravity = 9;
        return 1;
    };
    EXPECT_EQ(s.run(), 1);
    EXPECT_EQ(hook, 0);
    EXPECT_EQ(out, std::vector<uint32_t>(out.size(), 0));
    EXPECT_EQ(s.hostSettings[64], 9);
    EXPECT_EQ(s.memory.outstanding, 0);
}

TEST(PreviewHook, UsesTheLargePreviewSizeWhenTheDialogFontIsLarge) {
    HookRun r;
    r.s.baseUnits = kLargeFontBaseUnits;
    r.play({74});
    ASSERT_EQ(r.results, std::vector<int>{1});
    EXPECT_EQ(r.a, shrunk(r.s.server.clipA(), 74, 288, 216));
    EXPECT_EQ(r.b, shrunk(r.s.server.clipB(), 74, 288, 216));
}

}  // namespace
}  // namespace granulix
