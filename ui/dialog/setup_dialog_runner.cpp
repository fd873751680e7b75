#include "setup_dialog_runner.h"

#include "setup_dialog.h"

namespace granulix {

int32_t SetupDialogWindow::run(void* ownerWindow, RenderJob& job) {
    try {
        CSetupDialog dialog(static_cast<HWND>(ownerWindow), job);
        return static_cast<int32_t>(dialog.doModal());
    } catch (...) {
        return 0;
    }
}

}  // namespace granulix
