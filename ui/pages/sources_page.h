// The "Sources" page: edits the three source bindings ("Moving X",
// "Moving Y", "Delay") one at a time. The "Parameter:" spinner picks the
// binding; the other spinners and boxes edit its map kind, tiling and
// flips, and a 128 x 96 grey picture shows the map it yields.
//
// The spinners have no partner edit: the page writes every number and name
// itself. Nothing is stored when the page only shows a binding. The spinners
// and boxes are bindings as rows (SourceSpinBinding, SourceCheckBinding),
// walked as the slider pages walk theirs.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "controls.h"
#include "dib_painter.h"
#include "effect_settings.h"
#include "page_context.h"
#include "source_map_picture.h"

namespace granulix {

// One spinner of the page: it edits one field of the selected binding, over
// the range the settings table gives the field, and the text beside it
// shows the field's value.
struct SourceSpinBinding {
    int spin;
    int text;
    int32_t SourceBinding::*field;
    std::string (*show)(int32_t value);
};

// One check box: ticked stores 1 in the field of the selected binding,
// unticked 0.
struct SourceCheckBinding {
    int checkBox;
    int32_t SourceBinding::*field;
};

class CMyPropertyPage4 : public ParameterPage {
public:
    explicit CMyPropertyPage4(PageContext& context);

    // Shows the binding of the selected parameter, redraws the map and
    // refreshes the preview.
    void LoadFromSettings();

protected:
    void doDataExchange(fw::DataExchange& dx) override;
    bool onInitDialog() override;
    bool onSetActive() override;
    const fw::MessageMap* messageMap() const override;

private:
    static constexpr std::size_t kSpins = 3;
    static constexpr std::size_t kChecks = 3;

    void onVScroll(UINT code, UINT position, HWND spin);
    bool onCheckCommand(UINT id, UINT code, HWND control);
    void onPaint();
    void onDestroy();
    int selectedParameter() const;
    void invalidateMap();
    void drawMap();

    fw::SpinControl parameterSpin_;
    std::array<fw::SpinControl, kSpins> spins_;
    // What data exchange writes into the controls and reads back.
    std::array<int32_t, kChecks> checks_{};
    std::array<std::string, kSpins> spinTexts_;
    std::string parameterText_;
    std::string legendText_;

    fw::PaintTarget mapTarget_{};
    fw::DibPainter mapPainter_;
    // The map picture, computed per paint.
    std::array<uint32_t, kSourceMapWidth * kSourceMapHeight> mapImage_{};
};

// The text the page shows for a source kind: its name, or the number for a
// kind that has no name (only a settings file brings one).
std::string sourceKindText(int32_t kind);

}  // namespace granulix
