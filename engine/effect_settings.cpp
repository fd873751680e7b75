#include "effect_settings.h"

#include "source_map.h"

namespace granulix {

void fillDefaults(EffectSettings& s) {
    s.size = static_cast<int32_t>(kSettingsSize);
    s.cellFlags = 0;
    s.reserved8 = 0;
    s.reserved12 = 0;
    s.reserved16 = 0;
    s.orderFlags = 0;
    s.holdFlags = 3;
    s.speedVariance = 105;
    s.speedNoise = 0;
    s.xyBalance = 118;
    s.centerX = 127;
    s.centerY = 127;
    s.minimumSpeed = 25;
    s.timeline = 127;
    s.gravity = 0;
    s.wind = 128;
    s.delay = 65;
    s.delayNoise = 20;
    s.minimumLife = 255;
    s.maximumLife = 255;
    s.cellWidth = 2;
    s.cellHeight = 2;
    s.sourceBindings[kMovingX] = SourceBinding{kDiag1, 0, 1, 1, 0, 0};
    s.sourceBindings[kMovingY] = SourceBinding{kDiag2, 0, 1, 1, 0, 0};
    s.sourceBindings[kDelay] = SourceBinding{kDiag1S, 0, 2, 2, 1, 1};
}

}  // namespace granulix
