// What every parameter page works on: the settings copy of the running
// setup call, reached afresh on every access, and the preview that it
// re-renders after each change.
#pragma once

#include "effect_settings.h"

namespace granulix {

// The working settings of the running setup call; null when none runs.
EffectSettings* pageSettings();
// Re-renders and redraws the preview of the running setup dialog, if any.
void refreshPreview();

}  // namespace granulix
