// The About box: the banner, a line naming the maker and OK. It handles
// nothing itself; the dialog's standard keys and its OK button close it.
#pragma once

#include "dialog.h"

namespace granulix {

class CAboutDialog : public fw::Dialog {
public:
    // No parent: the active window, the setup dialog, becomes the owner.
    CAboutDialog();
};

}  // namespace granulix
