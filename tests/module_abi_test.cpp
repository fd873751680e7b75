// The module's exports as a host sees them: the EffectInfo record, the
// default settings, and requests a careless or hostile host might send.
// Whatever arrives, a bad request returns 0 and leaves every frame as it was.
#include <gtest/gtest.h>

#include <climits>
#include <initializer_list>
#include <cmath>
#include <limits>
#include <string>

#include "effect_settings.h"
#include "module_host.h"

namespace granulix {
namespace {

using testing::HostFrames;
using testing::RenderRecord;
using testing::SetupRecord;

int32_t readInt(const std::vector<uint8_t>& bytes, size_t offset) {
    int32_t v;
    std::memcpy(&v, bytes.data() + offset, sizeof v);
    return v;
}

TEST(ModuleExports, EffectInfoWritesTextsAndNumbersAndNothingElse) {
    constexpr size_t kSize = 268, kSlack = 32;
    std::vector<uint8_t> info(kSize + kSlack);
    for (size_t i = 0; i < info.size(); ++i) info[i] = static_cast<uint8_t>(0xC0 + i % 61);
    const std::vector<uint8_t> before = info;
    ASSERT_EQ(testing::module().getEffInfo(reinterpret_cast<abi::EffectInfo*>(info.data())), 1);

    struct Text {
        size_t offset, width;
        std::string text;
    };
    const Text texts[] = {
        {0, 45, "F/X"}, {45, 20, "Granulix"}, {65, 131, "Va dissipates and reveal Vb."}};
    std::vector<bool> written(info.size(), false);
    for (const Text& t : texts) {
        ASSERT_LT(t.text.size(), t.width);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(&info[t.offset])), t.text);
        for (size_t i = 0; i <= t.text.size(); ++i) written[t.offset + i] = true;
    }
    const std::pair<size_t, int32_t> numbers[] = {{196, 1},   {200, 0}, {204, 0}, {208, 0},
                                                  {212, 768}, {216, 0}, {220, 0}, {248, 0},
                                                  {260, 424}, {264, 40}};
    for (const auto& [offset, value] : numbers) {
        EXPECT_EQ(readInt(info, offset), value) << "offset " << offset;
        for (size_t i = 0; i < 4; ++i) written[offset + i] = true;
    }
    // The rest of each text field, 224..247, 252..259 and whatever follows
    // the record keep the host's bytes.
    for (size_t i = 0; i < info.size(); ++i) {
        if (!written[i]) {
            EXPECT_EQ(info[i], before[i]) << "byte " << i;
        }
    }
    EXPECT_EQ(testing::module().getEffInfo(nullptr), 1);
}

TEST(ModuleExports, DefaultsFillTheBlockAndKeepItsReservedBytes) {
    std::vector<uint8_t> block(kSettingsSize + 16);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
    EffectSettings expected;
    std::memcpy(&expected, block.data(), kSettingsSize);
    fillDefaults(expected);
    const std::vector<uint8_t> before = block;

    ASSERT_EQ(testing::module().getDefault(block.data()), 1);
    EXPECT_EQ(std::memcmp(block.data(), &expected, kSettingsSize), 0);
    EXPECT_EQ(readInt(block, 0), 424);
    EXPECT_EQ(readInt(block, 88), 2) << "cellWidth";
    for (size_t i : {56, 63, 168, 423}) EXPECT_EQ(block[i], before[i]) << "reserved byte " << i;
    for (size_t i = kSettingsSize; i < block.size(); ++i) EXPECT_EQ(block[i], before[i]);
    EXPECT_EQ(testing::module().getDefault(nullptr), 0);
}

TEST(ModuleExports, SetupRequestLeavesTheHostsSettingsAlone) {
    EXPECT_EQ(testing::module().applyEffect(0, nullptr, 0), 0);
#if !defined(_WIN32)
    // Natively there is no dialog. On Windows the setup request opens it;
    // the setup dialog tests drive it there.
    std::vector<uint8_t> settings(kSettingsSize, 0x5A);
    SetupRecord setup;
    setup.frameCount = 25;
    setup.settings = settings.data();
    std::vector<uint8_t> bytes = setup.encode();
    const std::vector<uint8_t> recordBefore = bytes;
    EXPECT_EQ(testing::module().applyEffect(0, bytes.data(), 0), 0);
    EXPECT_EQ(settings, std::vector<uint8_t>(kSettingsSize, 0x5A));
    EXPECT_EQ(bytes, recordBefore);
#endif
}

TEST(ModuleExports, AnyNonZeroKindRenders) {
    for (int32_t kind : {1, 2, -1, INT_MIN}) {
        HostFrames f(8, 4, 5), reference(8, 4, 5);
        ASSERT_EQ(testing::applyRender(reference.request(0.6f), 0, 1), 1);
        EXPECT_EQ(testing::applyRender(f.request(0.6f), 0, kind), 1) << kind;
        EXPECT_EQ(f.out.storage, reference.out.storage) << kind;
    }
}

// Runs a request that must be refused and checks that no frame changed.
void expectRefused(HostFrames& f, const RenderRecord& r, const std::string& what) {
    const std::vector<uint8_t> a = f.a.storage, b = f.b.storage, out = f.out.storage;
    for (int32_t fieldMode : {0, 1, 2}) {
        EXPECT_EQ(testing::applyRender(r, fieldMode), 0) << what << ", field mode " << fieldMode;
    }
    EXPECT_EQ(f.out.storage, out) << what;
    EXPECT_EQ(f.a.storage, a) << what;
    EXPECT_EQ(f.b.storage, b) << what;
}

TEST(HostileRequests, BitCountsOtherThan24AreRefused) {
    for (const uint16_t bits : std::initializer_list<uint16_t>{16, 32, 0, 1, 8, 23, 25, 48}) {
        HostFrames f(6, 4, bits, bits);
        expectRefused(f, f.request(0.5f), std::to_string(bits) + " bits");
    }
}

TEST(HostileRequests, MissingRecordHeaderOrPixelsAreRefused) {
    EXPECT_EQ(testing::module().applyEffect(1, nullptr, 0), 0);
    for (int which = 0; which < 4; ++which) {
        HostFrames f(6, 4, 10 + which);
        RenderRecord r = f.request(0.5f);
        const char* names[] = {"header", "output", "clip A", "clip B"};
        if (which == 0) r.header = nullptr;
        if (which == 1) r.output = nullptr;
        if (which == 2) r.clipA = nullptr;
        if (which == 3) r.clipB = nullptr;
        expectRefused(f, r, std::string("no ") + names[which]);
    }
}

TEST(HostileRequests, FramesWithNoPixelsOrTooManyAreRefused) {
    // The frames are small: were any of these sizes believed, the module
    // would read and write far beyond them.
    const std::pair<int32_t, int32_t> sizes[] = {
        {0, 4},
        {6, 0},
        {-1, 4},
        {6, -4},
        {INT_MIN, INT_MIN},
        {-6, -4},
        {INT_MAX, INT_MAX},  // overflows even 64-bit block sizes
        {65536, 65536},      // 2^32 work pixels
        {1, 0x40000000},     // twice the rows of a field mode overflow an int32
        {0x10000, 0x8000},   // field mode: 2^32 work pixels
    };
    for (const auto& [w, h] : sizes) {
        HostFrames f(6, 4, 20);
        f.header = testing::frameHeader(w, h, 24);
        RenderRecord r = f.request(0.5f);
        r.regionWidth = w;
        r.regionHeight = h;
        const std::vector<uint8_t> a = f.a.storage, b = f.b.storage, out = f.out.storage;
        const bool fieldOnly = w == 1 || w == 0x10000;  // fine as a whole frame, not doubled
        for (int32_t fieldMode : {0, 1, 2}) {
            if (fieldOnly && fieldMode == 0) continue;
            EXPECT_EQ(testing::applyRender(r, fieldMode), 0)
                << w << "x" << h << " field " << fieldMode;
        }
        EXPECT_EQ(f.out.storage, out);
        EXPECT_EQ(f.a.storage, a);
        EXPECT_EQ(f.b.storage, b);
    }
}

TEST(HostileRequests, ProgressOutsideZeroToOneIsHeldThere) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::pair<float, float> cases[] = {{nan, 0.0f},    {-nan, 0.0f},   {-inf, 0.0f},
                                             {-0.25f, 0.0f}, {-1e30f, 0.0f}, {inf, 1.0f},
                                             {1.5f, 1.0f},   {1e30f, 1.0f},  {1.0000001f, 1.0f}};
    EffectSettings s{};
    fillDefaults(s);
    s.cellWidth = s.cellHeight = 1;
    for (const auto& [progress, heldTo] : cases) {
        HostFrames f(12, 8, 40), held(12, 8, 40);
        ASSERT_EQ(testing::applyRender(f.request(progress, &s), 0), 1) << progress;
        ASSERT_EQ(testing::applyRender(held.request(heldTo, &s), 0), 1);
        EXPECT_EQ(f.out.storage, held.out.storage) << progress;
    }
}

TEST(HostileRequests, RecordsHeadersAndSettingsNeedNoAlignment) {
    std::vector<uint8_t> defaults(kSettingsSize, 0);
    ASSERT_EQ(testing::module().getDefault(defaults.data()), 1);
    HostFrames aligned(10, 6, 90), shifted(10, 6, 90);
    ASSERT_EQ(testing::applyRender(aligned.request(0.5f, defaults.data()), 0), 1);

    std::vector<uint8_t> header(41), settings(kSettingsSize + 1);
    std::memcpy(header.data() + 1, shifted.header.data(), 40);
    std::memcpy(settings.data() + 1, defaults.data(), kSettingsSize);
    RenderRecord r = shifted.request(0.5f, settings.data() + 1);
    r.header = header.data() + 1;
    const std::vector<uint8_t> bytes = r.encode();
    std::vector<uint8_t> record(bytes.size() + 1);
    std::memcpy(record.data() + 1, bytes.data(), bytes.size());
    ASSERT_EQ(testing::module().applyEffect(1, record.data() + 1, 0), 1);
    EXPECT_EQ(shifted.out.storage, aligned.out.storage);
}

}  // namespace
}  // namespace granulix
