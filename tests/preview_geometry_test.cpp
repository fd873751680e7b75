// Where the preview sits in its box, and the time label's text.
#include "preview_geometry.h"

#include <gtest/gtest.h>

namespace granulix {
namespace {

struct PlacementCase {
    int32_t w, h, cw, ch;
    PreviewPlacement expected;
};

TEST(PreviewPlacement, CentresAcrossAndBelowTheCaptionOrNearTheBottom) {
    const PlacementCase cases[] = {
        // the usual box of 246 x 198: D = 18, D / 2 = 9, so bottom 2 px up
        {240, 180, 246, 198, {3, 16, 240, 180}},
        // a roomy box: D = 80, centred below the top 10 pixels
        {240, 180, 300, 260, {30, 45, 240, 180}},
        // the switch between the two rules: D / 2 = 10 and D / 2 = 11
        {240, 180, 240 + 2, 180 + 21, {1, 19, 240, 180}},
        {240, 180, 240 + 3, 180 + 22, {1, 16, 240, 180}},
        {240, 180, 250, 180 + 20, {5, 18, 240, 180}},
        // one or two spare rows
        {240, 180, 241, 182, {0, 1, 240, 180}},
        {240, 180, 241, 181, {0, 0, 240, 180}},
        {240, 180, 241, 183, {0, 1, 240, 180}},
        // larger than the box: drawn from 0 and scaled to the box
        {288, 216, 246, 198, {0, 0, 246, 198}},
        {240, 180, 240, 180, {0, 0, 240, 180}},
        {240, 180, 200, 300, {0, 65, 200, 180}},
        {240, 180, 300, 100, {30, 0, 240, 100}},
    };
    for (const PlacementCase& c : cases) {
        const PreviewPlacement p = placePreview(c.w, c.h, c.cw, c.ch);
        EXPECT_EQ(p.x, c.expected.x) << c.cw << "x" << c.ch;
        EXPECT_EQ(p.y, c.expected.y) << c.cw << "x" << c.ch;
        EXPECT_EQ(p.width, c.expected.width) << c.cw << "x" << c.ch;
        EXPECT_EQ(p.height, c.expected.height) << c.cw << "x" << c.ch;
    }
}

TEST(TimeLabel, NumbersStartTheirBlankFieldsOnTwoLines) {
    const std::string text = timeLabelText(75, 9);
    ASSERT_EQ(text.size(), 54u);
    EXPECT_EQ(text, "Duration: 75              \nPreview:  9                ");
    EXPECT_EQ(text[26], '\n');
    EXPECT_EQ(text.substr(27, 8), "Preview:");
}

TEST(TimeLabel, ALaterShorterNumberLeavesNoTraceOfAnEarlierOne) {
    EXPECT_EQ(timeLabelText(75, 10).substr(37), "10               ");
    EXPECT_EQ(timeLabelText(75, 9).substr(37), "9                ");
    EXPECT_EQ(timeLabelText(1000, 0).substr(0, 26), "Duration: 1000            ");
    EXPECT_EQ(timeLabelText(5, 0).substr(0, 26), "Duration: 5               ");
}

TEST(TimeLabel, ExtremesFitTheirFields) {
    const std::string text = timeLabelText(INT32_MIN, INT32_MAX);
    ASSERT_EQ(text.size(), 54u);
    EXPECT_EQ(text.substr(10, 16), "-2147483648     ");
    EXPECT_EQ(text.substr(37, 17), "2147483647       ");
    EXPECT_EQ(timeLabelText(0, 0), "Duration: 0               \nPreview:  0                ");
}

}  // namespace
}  // namespace granulix
