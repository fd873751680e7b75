// The "Movement" page: how fast clip A's pixels fly (variance and noise of
// the speed), how that speed divides between x and y, where the particles
// head (CenterX, CenterY), and how many pixels fly together (the cell-size
// edits with their spins, and "Bands").
//
// The cell-size edits store what the user types at once, clamped to
// 1..4096; an emptied edit stores nothing and gets its last number back
// when the focus leaves it.
#pragma once

#include <cstdint>

#include "controls.h"
#include "slider_page.h"

namespace granulix {

class CMyPropertyPage1 : public SliderPage {
public:
    explicit CMyPropertyPage1(PageContext& context);

    int32_t cellWidthEntry = 1;   // edit 1004 as a number
    int32_t cellHeightEntry = 1;  // edit 1006 as a number

protected:
    void doDataExchange(fw::DataExchange& dx) override;
    bool onKillActive() override;
    void initOwnControls() override;
    void loadOwnControls() override;
    const fw::MessageMap* messageMap() const override;

private:
    struct CellSizeBinding;
    static const CellSizeBinding kCellSizes[2];

    bool onCellSizeCommand(UINT id, UINT code, HWND control);
    // Reads both edits and clamps the entry of `row`, writing both back if
    // it had to.
    void readCellSizes(const CellSizeBinding& row);
    bool anyEditEmpty() const;

    fw::EditControl cellHeightEdit_;
    fw::EditControl cellWidthEdit_;
    fw::SpinControl cellHeightSpin_;
    fw::SpinControl cellWidthSpin_;
};

}  // namespace granulix
