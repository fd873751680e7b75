#include "random_requests.h"

#include "settings_table.h"

namespace granulix::testing {

// Every field drawn from its editing range, except the cells (1 to 4
// pixels, mostly without bands), which would otherwise mostly cover these
// small frames with one cell; and gravity is 0 half the time.
EffectSettings randomModuleSettings(std::mt19937& g) {
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); };
    EffectSettings s{};
    fillDefaults(s);
    for (const SettingsField& field : settingsFields()) {
        if (field.settable) setFieldValue(s, field, in(field.minimum, field.maximum));
    }
    if (in(0, 1)) s.gravity = 0;
    s.cellFlags = in(0, 3) == 0;
    s.cellWidth = in(1, 4);
    s.cellHeight = in(1, 4);
    return s;
}

void randomRegion(std::mt19937& g, RenderRecord& r, int32_t W, int32_t H) {
    auto in = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(g); };
    switch (in(0, 5)) {
        case 0:
        case 1:
            r.regionX = 0;
            r.regionY = 0;
            r.regionWidth = W;
            r.regionHeight = H;
            break;
        case 2:
            r.regionX = in(0, W - 1);
            r.regionY = in(0, H - 1);
            r.regionWidth = in(0, W - r.regionX);
            r.regionHeight = in(0, H - r.regionY);
            break;
        case 3:
            r.regionX = in(0, W + 2);
            r.regionY = in(0, H + 2);
            r.regionWidth = in(0, 2 * W + 3);
            r.regionHeight = in(0, 2 * H + 3);
            break;
        case 4:
            r.regionX = -in(1, 3);
            r.regionY = 0;
            r.regionWidth = W + 6;
            r.regionHeight = H;
            break;
        default:
            r.regionX = in(0, W);
            r.regionY = in(0, H);
            r.regionWidth = -1;
            r.regionHeight = -1;
            break;
    }
}

std::string renderCaseName(const RenderCase& c) {
    const int32_t m = c.fieldMode;
    return std::to_string(c.width) + "x" + std::to_string(c.height) + "_field" +
           (m < 0 ? "Minus" + std::to_string(-m) : std::to_string(m));
}

RandomRequest::RandomRequest(const RenderCase& c, int round, std::mt19937& g)
    : frames(c.width, c.height, uint32_t(g())), settings(randomModuleSettings(g)) {
    record = frames.request(std::uniform_real_distribution<float>(0.0f, 1.0f)(g), &settings);
    if (round % 4 == 3) record.progress = round % 8 == 3 ? 1.0f : 0.0f;
    randomRegion(g, record, c.width, c.height);
}

}  // namespace granulix::testing
