// The About box: the banner, a line naming the maker and OK. It has no
// reactions of its own; OK, Enter and Escape close it.
#pragma once

#include "dialog.h"

namespace granulix {

class CAboutDialog : public fw::Dialog {
public:
    // No parent: the active window, the setup dialog, becomes the owner.
    CAboutDialog();
};

}  // namespace granulix
