#include "movement_page.h"

#include <algorithm>
#include <iterator>

#include "resource.h"
#include "settings_table.h"

namespace granulix {

namespace {

constexpr SliderBinding kSliders[] = {
    {IDC_MOVEMENT_VARIANCE, "Variance", &EffectSettings::speedVariance, IDC_MOVEMENT_PRESET_V, 16,
     IDS_TIP_VARIANCE},
    {IDC_MOVEMENT_NOISE, "Noise", &EffectSettings::speedNoise, IDC_MOVEMENT_PRESET_N, 4,
     IDS_TIP_SPEED_NOISE},
    {IDC_MOVEMENT_XY_BALANCE, "X<->Y", &EffectSettings::xyBalance, IDC_MOVEMENT_PRESET_C, 127,
     IDS_TIP_XY_BALANCE},
    {IDC_MOVEMENT_CENTER_X, "CenterX", &EffectSettings::centerX, IDC_MOVEMENT_PRESET_X, 127,
     IDS_TIP_CENTER_X},
    {IDC_MOVEMENT_CENTER_Y, "CenterY", &EffectSettings::centerY, IDC_MOVEMENT_PRESET_Y, 127,
     IDS_TIP_CENTER_Y},
};

constexpr FlagBinding kFlags[] = {
    {IDC_MOVEMENT_BANDS, &EffectSettings::cellFlags, 1},
};

}  // namespace

// One cell-size edit with its spin, the member that holds its number and
// the field it edits.
struct CMyPropertyPage1::CellSizeBinding {
    int edit;
    fw::EditControl CMyPropertyPage1::*editControl;
    fw::SpinControl CMyPropertyPage1::*spin;
    int32_t CMyPropertyPage1::*entry;
    int32_t EffectSettings::*field;
};

const CMyPropertyPage1::CellSizeBinding CMyPropertyPage1::kCellSizes[2] = {
    {IDC_MOVEMENT_CELL_WIDTH, &CMyPropertyPage1::cellWidthEdit_, &CMyPropertyPage1::cellWidthSpin_,
     &CMyPropertyPage1::cellWidthEntry, &EffectSettings::cellWidth},
    {IDC_MOVEMENT_CELL_HEIGHT, &CMyPropertyPage1::cellHeightEdit_,
     &CMyPropertyPage1::cellHeightSpin_, &CMyPropertyPage1::cellHeightEntry,
     &EffectSettings::cellHeight},
};

CMyPropertyPage1::CMyPropertyPage1(PageContext& context)
    : SliderPage(IDD_MOVEMENT, context, kSliders, kFlags, {}) {
    static_assert(std::size(kSliders) <= kMaxSliders && std::size(kFlags) <= kMaxFlags);
}

const fw::MessageMap* CMyPropertyPage1::messageMap() const {
    static const fw::MessageEntry entries[] = {
        fw::onControlCommand<CMyPropertyPage1, &CMyPropertyPage1::onCellSizeCommand>(),
    };
    static const fw::MessageMap map{SliderPage::messageMap(), entries, std::size(entries)};
    return &map;
}

void CMyPropertyPage1::doDataExchange(fw::DataExchange& dx) {
    SliderPage::doDataExchange(dx);
    fw::exchangeControl(dx, IDC_MOVEMENT_CELL_HEIGHT, cellHeightEdit_);
    fw::exchangeControl(dx, IDC_MOVEMENT_CELL_WIDTH, cellWidthEdit_);
    fw::exchangeControl(dx, IDC_MOVEMENT_CELL_HEIGHT_SPIN, cellHeightSpin_);
    fw::exchangeControl(dx, IDC_MOVEMENT_CELL_WIDTH_SPIN, cellWidthSpin_);
    // Width first: reading stops at the first edit that holds no integer.
    fw::exchangeInt(dx, IDC_MOVEMENT_CELL_WIDTH, cellWidthEntry);
    fw::exchangeInt(dx, IDC_MOVEMENT_CELL_HEIGHT, cellHeightEntry);
}

void CMyPropertyPage1::initOwnControls() {
    for (const CellSizeBinding& row : kCellSizes) {
        const SettingsField& f = settingsField(row.field);
        (this->*row.spin).setRange(f.minimum, f.maximum);
    }
}

void CMyPropertyPage1::loadOwnControls() {
    EffectSettings* settings = pageSettings();
    if (!settings) return;
    for (const CellSizeBinding& row : kCellSizes) {
        // A settings file may carry any number: show and keep it within the
        // spin's range rather than its low 16 bits.
        const SettingsField& f = settingsField(row.field);
        const int32_t size = std::clamp(settings->*row.field, f.minimum, f.maximum);
        // The spin writes its edit, whose change stores the number.
        (this->*row.spin).setPosition(size);
        this->*row.entry = size;
    }
}

bool CMyPropertyPage1::anyEditEmpty() const {
    return cellWidthEdit_.unselectedLength() == 0 || cellHeightEdit_.unselectedLength() == 0;
}

void CMyPropertyPage1::readCellSizes(const CellSizeBinding& row) {
    // A failed read has told the user; go on with the entries as they stand.
    updateData(true);
    int32_t& entry = this->*row.entry;
    const SettingsField& f = settingsField(row.field);
    const int32_t clamped = std::clamp(entry, f.minimum, f.maximum);
    if (clamped != entry) {
        entry = clamped;
        updateData(false);
    }
}

bool CMyPropertyPage1::onCellSizeCommand(UINT id, UINT code, HWND) {
    if (code != EN_CHANGE && code != EN_KILLFOCUS) return false;
    const CellSizeBinding* row = nullptr;
    for (const CellSizeBinding& r : kCellSizes)
        if (int(id) == r.edit) row = &r;
    if (!row) return false;
    const fw::EditControl& edit = this->*row->editControl;
    EffectSettings* settings = pageSettings();

    if (code == EN_CHANGE) {
        // An emptied edit is tolerated while it is being typed in.
        if (!edit.handle() || edit.unselectedLength() == 0) return true;
        readCellSizes(*row);
        if (settings) {
            settings->*row->field = this->*row->entry;
            refreshPreview();
        }
        return true;
    }

    // Leaving the edit: an empty one gets its last number back. Stored
    // without a new preview.
    if (edit.unselectedLength() == 0) updateData(false);
    readCellSizes(*row);
    if (settings) settings->*row->field = this->*row->entry;
    return true;
}

bool CMyPropertyPage1::onKillActive() {
    if (anyEditEmpty()) updateData(false);
    if (EffectSettings* settings = pageSettings()) {
        settings->cellWidth = cellWidthEntry;
        settings->cellHeight = cellHeightEntry;
    }
    return SliderPage::onKillActive();
}

}  // namespace granulix
