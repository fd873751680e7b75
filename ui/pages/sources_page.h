// The "Sources" page: edits the three source bindings ("Moving X",
// "Moving Y", "Delay") one at a time. The "Parameter:" spinner picks the
// binding; the other spinners and boxes edit its map kind, tiling and
// flips, and a 128 x 96 grey picture shows the map it yields.
//
// The spinners have no partner edit: the page writes every number and name
// itself. Nothing is stored when the page only shows a binding.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "controls.h"
#include "dib_painter.h"
#include "page_context.h"
#include "source_map_picture.h"

namespace granulix {

class CMyPropertyPage4 : public ParameterPage {
public:
    explicit CMyPropertyPage4(PageContext& context);

    // Shows the binding of the selected parameter, redraws the map and
    // refreshes the preview.
    void LoadFromSettings();

    int32_t invertCheck = 0;
    int32_t oddXCheck = 0;
    int32_t oddYCheck = 0;
    std::string parameterText;
    std::string repeatXText;
    std::string repeatYText;
    std::string sourceText;
    std::string legendText;

protected:
    void doDataExchange(fw::DataExchange& dx) override;
    bool onInitDialog() override;
    bool onSetActive() override;
    const fw::MessageMap* messageMap() const override;

private:
    void onVScroll(UINT code, UINT position, HWND spin);
    void onInvertOrOdd();
    void onPaint();
    void onDestroy();
    int selectedParameter() const;
    void invalidateMap();
    void drawMap();

    fw::SpinControl sourceSpin_;
    fw::SpinControl repeatYSpin_;
    fw::SpinControl repeatXSpin_;
    fw::SpinControl parameterSpin_;
    fw::PaintTarget mapTarget_{};
    fw::DibPainter mapPainter_;
};

// The text the page shows for a source kind: its name, or the number for a
// kind that has no name (only a settings file brings one).
std::string sourceKindText(int32_t kind);

}  // namespace granulix
