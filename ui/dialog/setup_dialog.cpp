#include "setup_dialog.h"

#include <commctrl.h>

#include <climits>
#include <iterator>
#include <new>
#include <optional>

#include "about_dialog.h"
#include "application.h"
#include "file_dialog.h"
#include "property_frame.h"
#include "resource.h"
#include "settings_file.h"

namespace granulix {

namespace {

constexpr char kSettingsFileFilter[] = "Vozav Quodlibrator Setings (*.qlb)|*.qlb|";
constexpr char kSettingsFileExtension[] = "qlb";

constexpr fw::ToolTipRow kToolTips[] = {
    {IDC_LOAD, IDS_TIP_LOAD},   {IDC_SAVE, IDS_TIP_SAVE},    {IDOK, IDS_TIP_OK},
    {IDCANCEL, IDS_TIP_CANCEL}, {IDC_BANNER, IDS_TIP_ABOUT}, {ID_HELP_COMMAND, IDS_TIP_HELP},
};

}  // namespace

CSetupDialog::CSetupDialog(HWND parent, RenderJob& job) : Dialog(IDD_SETUP, parent), job_(job) {}

CSetupDialog::~CSetupDialog() = default;

const fw::MessageMap* CSetupDialog::messageMap() const {
    static const fw::MessageEntry entries[] = {
        fw::onPaint<CSetupDialog, &CSetupDialog::onPaint>(),
        fw::onHScroll<CSetupDialog, &CSetupDialog::onHScroll>(),
        fw::onMove<CSetupDialog, &CSetupDialog::onMove>(),
        fw::onShowWindow<CSetupDialog, &CSetupDialog::onShowWindow>(),
        fw::onCommand<CSetupDialog, &CSetupDialog::onBanner>(IDC_BANNER),
        fw::onCommand<CSetupDialog, &CSetupDialog::LoadSettingsFile>(IDC_LOAD),
        fw::onCommand<CSetupDialog, &CSetupDialog::SaveSettingsFile>(IDC_SAVE),
        fw::onDestroy<CSetupDialog, &CSetupDialog::onDestroy>(),
    };
    static const fw::MessageMap map{fw::Dialog::messageMap(), entries, std::size(entries)};
    return &map;
}

void CSetupDialog::doDataExchange(fw::DataExchange& dx) {
    fw::exchangeControl(dx, IDC_BANNER, bannerButton_);
    fw::exchangeControl(dx, IDC_TIMELINE, timeline_);
    fw::exchangeText(dx, IDC_TIME_LABEL, labelText_);
}

bool CSetupDialog::preTranslateMessage(MSG& message) {
    toolTip_.relayEvent(message);
    return Dialog::preTranslateMessage(message);
}

bool CSetupDialog::onInitDialog() {
    Dialog::onInitDialog();

    if (banner_.load(IDB_BANNER)) bannerButton_.setBitmap(banner_.handle());

    // One position per frame; a transition without frames still has one.
    const uint32_t duration = job_.duration;
    const uint32_t last = duration == 0 ? 0 : duration - 1;
    timeline_.setRangeMin(0, false);
    timeline_.setRangeMax(last > uint32_t(INT_MAX) ? INT_MAX : int(last), false);

    createParameterWindow();
    PreparePreview();
    UpdateTimeLabel();

    toolTip_.createWithTools(*this, kToolTips);
    return true;
}

void CSetupDialog::createParameterWindow() {
    if (parameterWindow_) return;
    auto* frame = new (std::nothrow) CPropertyFrame(*this);
    if (!frame) return;
    parameterWindow_ = frame;
    const std::string title = fw::loadString(IDS_PROPERTY_SHEET);
    if (!frame->create(nullptr, title, WS_POPUP | WS_BORDER, RECT{0, 0, 0, 0}, this, nullptr, 0)) {
        delete frame;
        parameterWindow_ = nullptr;
        return;
    }
    parameterWindowHandle_ = frame->handle();
}

CPropertyFrame* CSetupDialog::parameterWindow() const {
    // The frame deletes itself with its window: trust the pointer only
    // while its window is still bound to it.
    if (!parameterWindow_ || fw::Window::fromHandle(parameterWindowHandle_) != parameterWindow_)
        return nullptr;
    return parameterWindow_;
}

void CSetupDialog::PositionParameterWindow() {
    CPropertyFrame* frame = parameterWindow();
    if (!frame) return;
    RECT box{};
    GetWindowRect(item(IDC_PREVIEW_BOX), &box);
    const RECT own = frame->windowRect();
    MoveWindow(frame->handle(), box.right + 1, box.top, own.right - own.left, own.bottom - own.top,
               TRUE);
    if (!frame->isVisible()) frame->show(SW_SHOWNOACTIVATE);
}

void CSetupDialog::PreparePreview() {
    RECT client{};
    GetClientRect(item(IDC_PREVIEW_BOX), &client);
    const PreviewPlacement at = placePreview(job_.width, job_.height, client.right, client.bottom);
    previewTarget_ = {at.x, at.y, at.width, at.height};
    preview_.open(job_.width, job_.height);
}

void CSetupDialog::RefreshPreview() {
    const int p = timeline_.handle() ? timeline_.position() : 0;
    job_.position = uint32_t(p);
    previewPosition = p;
    if (job_.fetchPreview) job_.fetchPreview(uint32_t(p), &job_);
    preview_.draw(item(IDC_PREVIEW_BOX), job_.pixelsOut, previewTarget_);
}

void CSetupDialog::UpdateTimeLabel() {
    labelText_ = timeLabelText(int32_t(job_.duration), previewPosition);
    updateData(false);
}

void CSetupDialog::SaveSettingsFile() {
    if (!job_.settings) return;
    const fw::FileDialog dialog(fw::FileDialog::Kind::save, kSettingsFileFilter,
                                kSettingsFileExtension);
    const std::optional<std::string> path = dialog.doModal();
    if (!path) return;
    // The file is written beside the chosen name and only then renamed to
    // it, so a failure never leaves a cut-off file under that name.
    switch (saveSettingsFile(*path, *job_.settings)) {
        case SettingsFileStatus::kOk: break;
        case SettingsFileStatus::kCannotWrite:
            fw::reportFileError(handle(), fw::FileError::diskFull, *path);
            break;
        default: fw::reportFileError(handle(), fw::FileError::cannotCreate, *path); break;
    }
}

void CSetupDialog::LoadSettingsFile() {
    if (!job_.settings) return;
    const fw::FileDialog dialog(fw::FileDialog::Kind::open, kSettingsFileFilter,
                                kSettingsFileExtension);
    const std::optional<std::string> path = dialog.doModal();
    if (!path) return;
    // The settings change only when the whole block was read; a file cut
    // short is refused rather than mixed into the old settings.
    const SettingsFileStatus status = loadSettingsFile(*path, *job_.settings);
    if (status == SettingsFileStatus::kReadFailed) {
        fw::reportFileError(handle(), fw::FileError::readFailed, *path);
        return;
    }
    if (status != SettingsFileStatus::kOk) {
        fw::messageBox(handle(), settingsFileMessage(status));
        return;
    }
    if (CPropertyFrame* frame = parameterWindow(); frame && frame->sheet()) {
        CMyPropertySheet* sheet = frame->sheet();
        sheet->loadPageFromSettings(sheet->activePageIndex());
    }
    RefreshPreview();
}

void CSetupDialog::onPaint() {
    PAINTSTRUCT paint;
    BeginPaint(handle(), &paint);
    RefreshPreview();
    EndPaint(handle(), &paint);
}

void CSetupDialog::onHScroll(UINT code, UINT, HWND) {
    // The end of a drag (thumb position, end scroll) shows nothing new: the
    // thumb-track notifications before it already did.
    if (code != TB_THUMBPOSITION && code != TB_ENDTRACK) {
        RefreshPreview();
        UpdateTimeLabel();
    }
    defaultHandling();
}

void CSetupDialog::onMove(int, int) {
    defaultHandling();
    PositionParameterWindow();
}

void CSetupDialog::onShowWindow(bool show, UINT status) {
    defaultHandling();
    // Also placed when the dialog first appears, in case centring it did
    // not move it at all.
    if (show && status == 0) {
        if (CPropertyFrame* frame = parameterWindow(); frame && !frame->isVisible())
            PositionParameterWindow();
    }
}

void CSetupDialog::onBanner() {
    CAboutDialog about;
    about.doModal();
}

void CSetupDialog::onDestroy() {
    preview_.close();
    parameterWindow_ = nullptr;
    parameterWindowHandle_ = nullptr;
    defaultHandling();
}

}  // namespace granulix
