// The setup dialog: the live preview of the transition in its "Preview"
// box, the timeline slider that chooses the previewed frame, the time label,
// OK, Cancel, Load, Save, Help, the banner that opens the About box, and the
// parameter window kept to the right of the preview.
//
// The dialog works on the setup call's job that it is handed: the slider's
// range comes from the job's duration, the preview from its hook and
// buffers. It is the parameter pages' context (page_context.h): they edit
// the job's settings and ask it for a RefreshPreview after every change. The
// setup call runs it modally.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "controls.h"
#include "dialog.h"
#include "dib_painter.h"
#include "page_context.h"
#include "preview_geometry.h"

namespace granulix {

class CPropertyFrame;

class CSetupDialog : public fw::Dialog, public PageContext {
public:
    // `job` must outlive the dialog.
    CSetupDialog(HWND parent, RenderJob& job);
    ~CSetupDialog() override;

    // Renders the preview at the slider's position and, once PreparePreview
    // has run, draws it.
    void RefreshPreview() override;
    RenderJob& setupJob() override { return job_; }
    // Places the picture in the "Preview" box and opens the drawing handle.
    void PreparePreview();
    // Writes the duration and previewPosition into the time label.
    void UpdateTimeLabel();
    // Glues the parameter window to the right of the "Preview" box, showing
    // it if it is hidden.
    void PositionParameterWindow();

    // The parameter window while it exists, else null.
    CPropertyFrame* parameterWindow() const;

    // Save and Load: the working settings to and from a settings file that
    // the user picks. A load reloads the page on display and the preview;
    // a failure leaves the settings as they were and tells the user.
    void SaveSettingsFile();
    void LoadSettingsFile();

protected:
    void doDataExchange(fw::DataExchange& dx) override;
    bool preTranslateMessage(MSG& message) override;
    bool onInitDialog() override;
    const fw::MessageMap* messageMap() const override;

private:
    void onPaint();
    void onHScroll(UINT code, UINT position, HWND bar);
    void onMove(int x, int y);
    void onShowWindow(bool show, UINT status);
    void onBanner();
    void onDestroy();
    void createParameterWindow();

    RenderJob& job_;
    fw::Bitmap banner_;
    int32_t previewPosition = 0;  // the slider's position at the last refresh
    fw::Button bannerButton_;
    fw::SliderControl timeline_;
    std::string labelText_;
    fw::ToolTipControl toolTip_;
    CPropertyFrame* parameterWindow_ = nullptr;
    HWND parameterWindowHandle_ = nullptr;

    // How the preview is drawn; prepared once per dialog.
    fw::DibPainter preview_;
    fw::PaintTarget previewTarget_{};
};

}  // namespace granulix
