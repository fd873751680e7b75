#include "host_session.h"

#include <stdexcept>

#include "render_call.h"
#include "thread_wait.h"

namespace granulix::testhost {

namespace {

UINT settleMessage() {
    static const UINT message = RegisterWindowMessageA("GranulixHostSettle");
    return message;
}

LRESULT CALLBACK hostWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == settleMessage()) {
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

HostWindow::HostWindow(const std::string& title, int x, int y, int width, int height) {
    static const char kClass[] = "GranulixTestHost";
    WNDCLASSA wc{};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), kClass, &wc)) {
        wc.lpfnWndProc = hostWindowProcedure;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
        wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
        wc.lpszClassName = kClass;
        RegisterClassA(&wc);
    }
    window_ = CreateWindowExA(0, kClass, title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y,
                              width, height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!window_) throw std::runtime_error("cannot create the host window");
}

HostWindow::~HostWindow() {
    if (window_) DestroyWindow(window_);
}

bool settle(HWND hostWindow, int timeoutMs) {
    static LONG markers = 0;
    const LONG marker = InterlockedIncrement(&markers);
    PostMessageA(hostWindow, settleMessage(), 0, marker);
    return waitOnThreadOf(
        hostWindow, [&] { return GetWindowLongPtrA(hostWindow, GWLP_USERDATA) == marker; },
        timeoutMs);
}

int32_t runSetup(const LoadedModule& module, HWND owner, const FrameServer& server, int32_t frames,
                 uint8_t* settings, int32_t fieldMode) {
    abi::SetupRequest request{};
    request.owner = owner;
    request.frameCount = frames;
    request.context = server.context();
    request.fetch = &FrameServer::fetch;
    request.settings = settings;
    return module.applyEffect(0, &request, fieldMode);
}

std::vector<uint8_t> renderFrame(const LoadedModule& module, const Clip& a, const Clip& b,
                                 int32_t position, int32_t frames, const uint8_t* settings,
                                 int32_t fieldMode) {
    if (a.width() != b.width() || a.height() != b.height())
        throw std::invalid_argument("rendering needs two clips of one size");
    const std::vector<uint8_t> frameA = a.frameAt(position), frameB = b.frameAt(position);
    std::vector<uint8_t> out = frameB;  // header and room for the rows
    // The frames come with their header ahead of the rows.
    const auto& header = *reinterpret_cast<const abi::FrameHeader*>(frameA.data());
    abi::RenderRequest request = abi::renderRequest(
        header, {frameA.data() + 40, frameB.data() + 40, out.data() + 40},
        frames > 1 ? float(position) / float(frames - 1) : 0.0f, const_cast<uint8_t*>(settings),
        abi::RenderRegion{0, 0, a.width(), a.height()});
    if (module.applyEffect(1, &request, fieldMode) != 1)
        throw std::runtime_error("the module rendered nothing");
    return out;
}

}  // namespace granulix::testhost
