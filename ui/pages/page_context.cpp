#include "page_context.h"

#include "setup_call.h"
#include "setup_dialog.h"

namespace granulix {

EffectSettings* pageSettings() { return currentSetupJob ? currentSetupJob->settings : nullptr; }

void refreshPreview() {
    if (currentSetupDialog) currentSetupDialog->RefreshPreview();
}

}  // namespace granulix
