// A small frame window: a popup (or tool window) that carries other windows
// and deletes its object after its window is destroyed, as frame windows of
// the framework do. Create the object with new; once create() has succeeded
// the window owns it.
//
//   auto* frame = new CMyFrame;
//   if (!frame->create(nullptr, "Title", WS_POPUP | WS_BORDER, {0, 0, 0, 0}, &owner, nullptr, 0)) {
//       delete frame;   // never created: still ours
//   }
#pragma once

#include <string>

#include "window.h"

namespace granulix::fw {

class MiniFrameWindow : public Window {
public:
    // The framework's default frame window class, registered on first use.
    static const char* defaultClass();

    // Creates the window; className null takes the default class. False
    // when the window could not be created; the object is then not bound
    // to any window and the caller still owns it.
    bool create(const char* className, const std::string& title, DWORD style, const RECT& rect,
                const Window* owner, HMENU menu, UINT id);

protected:
    void postNcDestroy() override;

private:
    bool deleteWithWindow_ = false;
};

}  // namespace granulix::fw
