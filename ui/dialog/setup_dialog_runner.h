// Runs CSetupDialog modally for the setup call.
#pragma once

#include "setup_call.h"

namespace granulix {

class SetupDialogWindow : public SetupDialogRunner {
public:
    // The dialog's result: 1 for OK, 2 for Cancel, -1 when it could not be
    // shown; 0 when something failed underway.
    int32_t run(void* ownerWindow, RenderJob& job) override;
};

}  // namespace granulix
