// The per-frame source tables against the source value function, value for
// value: every kind, repeat, flip, cell size and visiting order.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "element_sampler.h"
#include "source_map.h"

namespace granulix {
namespace {

struct Grid {
    uint32_t width, height, cellWidth, cellHeight;
    bool reversed;
};

ElementGrid elementGrid(const Grid& g) {
    ElementGrid e;
    e.width = g.width;
    e.height = g.height;
    e.cellWidth = g.cellWidth;
    e.cellHeight = g.cellHeight;
    e.columns = (g.width + g.cellWidth - 1) / g.cellWidth;
    e.rows = (g.height + g.cellHeight - 1) / g.cellHeight;
    e.columnsReversed = g.reversed;
    return e;
}

class ElementSamplerMatchesSourceValues : public ::testing::TestWithParam<Grid> {};

TEST_P(ElementSamplerMatchesSourceValues, ForEveryKindAndTiling) {
    const Grid g = GetParam();
    const ElementGrid e = elementGrid(g);
    std::mt19937 gen(g.width * 31 + g.height);
    std::vector<uint32_t> image1(size_t(g.width) * g.height), image2(image1.size());
    for (auto& p : image1) p = uint32_t(gen());
    for (auto& p : image2) p = uint32_t(gen());
    std::vector<double> scratch(e.columns);
    for (int32_t kind = -1; kind <= 16; ++kind) {
        for (int round = 0; round < 6; ++round) {
            const SourceBinding b{
                kind,           round & 1,     1 + int(gen() % 5), 1 + int(gen() % 5),
                int(gen() % 2), int(gen() % 2)};
            ElementSampler s(b, e, image1.data(), image2.data());
            EXPECT_EQ(s.readsOutput(), kind >= int32_t(kRed2) && kind <= int32_t(kAlpha2));
            for (uint32_t j = 0; j < e.rows; ++j) {
                const double* gathered = s.gatherRow(j, scratch.data());
                for (uint32_t k = 0; k < e.columns; ++k) {
                    const uint32_t column = g.reversed ? e.columns - 1 - k : k;
                    const double expected =
                        sourceValue(column * g.cellWidth, j * g.cellHeight, g.width, g.height, b,
                                    image1.data(), image2.data());
                    ASSERT_EQ(s.value(k, j), expected)
                        << "kind " << kind << " k " << k << " j " << j;
                    ASSERT_EQ(gathered[s.gatherKey(k)], expected) << kind;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Grids, ElementSamplerMatchesSourceValues,
                         ::testing::Values(Grid{1, 1, 1, 1, false}, Grid{7, 5, 1, 1, false},
                                           Grid{7, 5, 1, 1, true}, Grid{20, 15, 7, 7, false},
                                           Grid{33, 17, 2, 3, true}, Grid{40, 9, 40, 1, false}),
                         [](const ::testing::TestParamInfo<Grid>& tested) {
                             const Grid& g = tested.param;
                             return std::to_string(g.width) + "x" + std::to_string(g.height) +
                                    "_cells" + std::to_string(g.cellWidth) + "x" +
                                    std::to_string(g.cellHeight) + (g.reversed ? "_reversed" : "");
                         });

// Byte kinds of image 2 are read when asked: a change to the frame shows,
// in a single value and in a stretch of a row read again.
TEST(ElementSampler, ImageTwoIsReadAtTheMomentOfTheQuestion) {
    const ElementGrid e = elementGrid({4, 3, 1, 1, false});
    std::vector<uint32_t> clipA(12, 0x11), out(12, 0x22);
    ElementSampler s({kBlue2, 0, 1, 1, 0, 0}, e, clipA.data(), out.data());
    EXPECT_EQ(s.imageRow(1), 1u);
    std::vector<double> scratch(4, -1.0);
    EXPECT_EQ(s.gatherRow(1, scratch.data())[s.gatherKey(2)], 0.0);
    EXPECT_EQ(s.value(2, 1), 0.0);
    out[1 * 4 + 2] = 0x7F0000;
    out[1 * 4 + 3] = 0x050000;
    EXPECT_EQ(s.value(2, 1), 0x7F);
    const double* row = s.gatherRow(1, scratch.data(), 3, 4);
    EXPECT_EQ(row[s.gatherKey(3)], 0x05);
    EXPECT_EQ(row[s.gatherKey(2)], 0.0) << "outside the stretch asked for";
}

// The traversal turns values into what it looks up by them, once per frame.
TEST(ElementSampler, MappedValuesAreLookedUpInPlaceOfTheValues) {
    const ElementGrid e = elementGrid({10, 6, 2, 2, false});
    std::vector<uint32_t> clipA(60), out(60);
    for (uint32_t i = 0; i < 60; ++i) clipA[i] = i * 4;
    for (int32_t kind : {int32_t(kRed1), int32_t(kDiag2S), int32_t(kGradY)}) {
        const SourceBinding b{kind, 0, 2, 1, 1, 0};
        ElementSampler plain(b, e, clipA.data(), out.data());
        ElementSampler mapped(b, e, clipA.data(), out.data());
        mapped.mapValues([](double v) { return (v - 128) * 0.5; });
        for (uint32_t j = 0; j < e.rows; ++j) {
            for (uint32_t k = 0; k < e.columns; ++k) {
                ASSERT_EQ(mapped.value(k, j), (plain.value(k, j) - 128) * 0.5) << kind;
            }
        }
    }
}

}  // namespace
}  // namespace granulix
