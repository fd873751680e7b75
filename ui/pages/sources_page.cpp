#include "sources_page.h"

#include <algorithm>
#include <iterator>

#include "resource.h"
#include "settings_table.h"

namespace granulix {

namespace {

// Index: the "Parameter:" spinner, which is the index into sourceBindings;
// the names are the table's.
constexpr const char* kLegends[] = {
    "Black:Right White:Left",
    "Black: Up  White: Down",
    "Black:First White:Last",
};
static_assert(std::size(kLegends) == kBindingCount);

std::string numberText(int32_t value) { return std::to_string(value); }

constexpr SourceSpinBinding kSpinRows[] = {
    {IDC_SOURCES_KIND_SPIN, IDC_SOURCES_KIND_NAME, &SourceBinding::kind, sourceKindText},
    {IDC_SOURCES_REPEAT_X_SPIN, IDC_SOURCES_REPEAT_X, &SourceBinding::repeatX, numberText},
    {IDC_SOURCES_REPEAT_Y_SPIN, IDC_SOURCES_REPEAT_Y, &SourceBinding::repeatY, numberText},
};

constexpr SourceCheckBinding kCheckRows[] = {
    {IDC_SOURCES_INVERT, &SourceBinding::invert},
    {IDC_SOURCES_ODD_X, &SourceBinding::oddX},
    {IDC_SOURCES_ODD_Y, &SourceBinding::oddY},
};

}  // namespace

std::string sourceKindText(int32_t kind) {
    if (kind >= 0 && kind <= int32_t(kLastSourceKind)) return kSourceKindNames[kind];
    return std::to_string(kind);
}

CMyPropertyPage4::CMyPropertyPage4(PageContext& context) : ParameterPage(IDD_SOURCES, context) {
    static_assert(std::size(kSpinRows) == kSpins && std::size(kCheckRows) == kChecks);
}

const fw::MessageMap* CMyPropertyPage4::messageMap() const {
    static const fw::MessageEntry entries[] = {
        fw::onVScroll<CMyPropertyPage4, &CMyPropertyPage4::onVScroll>(),
        fw::onControlCommand<CMyPropertyPage4, &CMyPropertyPage4::onCheckCommand>(),
        fw::onPaint<CMyPropertyPage4, &CMyPropertyPage4::onPaint>(),
        fw::onDestroy<CMyPropertyPage4, &CMyPropertyPage4::onDestroy>(),
    };
    static const fw::MessageMap map{fw::PropertyPage::messageMap(), entries, std::size(entries)};
    return &map;
}

void CMyPropertyPage4::doDataExchange(fw::DataExchange& dx) {
    for (std::size_t i = 0; i < kSpins; ++i) fw::exchangeControl(dx, kSpinRows[i].spin, spins_[i]);
    fw::exchangeControl(dx, IDC_SOURCES_PARAMETER_SPIN, parameterSpin_);
    for (std::size_t i = 0; i < kChecks; ++i)
        fw::exchangeCheck(dx, kCheckRows[i].checkBox, checks_[i]);
    fw::exchangeText(dx, IDC_SOURCES_PARAMETER_NAME, parameterText_);
    for (std::size_t i = 0; i < kSpins; ++i) fw::exchangeText(dx, kSpinRows[i].text, spinTexts_[i]);
    fw::exchangeText(dx, IDC_SOURCES_LEGEND, legendText_);
}

bool CMyPropertyPage4::onInitDialog() {
    PropertyPage::onInitDialog();
    parameterSpin_.setRange(0, kBindingCount - 1);
    // The three bindings share their ranges; binding 0's rows stand for all.
    for (std::size_t i = 0; i < kSpins; ++i) {
        const SettingsField& f = bindingField(0, kSpinRows[i].field);
        spins_[i].setRange(f.minimum, f.maximum);
    }
    parameterSpin_.setPosition(0);
    LoadFromSettings();

    RECT box{};
    GetClientRect(item(IDC_SOURCES_MAP_BOX), &box);
    const MapPlacement at = placeSourceMap(box.right, box.bottom);
    mapTarget_ = {at.left, at.top, at.width, at.height};
    mapPainter_.open(kSourceMapWidth, kSourceMapHeight);
    return true;
}

bool CMyPropertyPage4::onSetActive() {
    LoadFromSettings();
    return PropertyPage::onSetActive();
}

int CMyPropertyPage4::selectedParameter() const {
    return std::clamp(parameterSpin_.position(), 0, kBindingCount - 1);
}

void CMyPropertyPage4::LoadFromSettings() {
    const EffectSettings* settings = pageSettings();
    if (!settings || !handle()) return;
    const int p = selectedParameter();
    const SourceBinding& b = settings->sourceBindings[p];
    for (std::size_t i = 0; i < kSpins; ++i) {
        spins_[i].setPosition(b.*kSpinRows[i].field);
        spinTexts_[i] = kSpinRows[i].show(b.*kSpinRows[i].field);
    }
    for (std::size_t i = 0; i < kChecks; ++i) checks_[i] = b.*kCheckRows[i].field;
    parameterText_ = kBindingNames[p];
    legendText_ = kLegends[p];
    updateData(false);
    invalidateMap();
    refreshPreview();
}

void CMyPropertyPage4::onVScroll(UINT, UINT, HWND spin) {
    // Every scroll code counts: a step and the end of a press alike.
    if (EffectSettings* settings = pageSettings()) {
        SourceBinding& b = settings->sourceBindings[selectedParameter()];
        // Only the sender's own field: a kind or repeat count from a
        // settings file that lies beyond a spin's range stays as it is
        // until its own spin is used.
        for (std::size_t i = 0; i < kSpins; ++i)
            if (spin == spins_[i].handle()) b.*kSpinRows[i].field = spins_[i].position();
    }
    LoadFromSettings();
    defaultHandling();
}

bool CMyPropertyPage4::onCheckCommand(UINT id, UINT code, HWND) {
    if (code != BN_CLICKED) return false;
    const auto isSender = [id](const SourceCheckBinding& r) { return int(id) == r.checkBox; };
    const bool mine = std::any_of(std::begin(kCheckRows), std::end(kCheckRows), isSender);
    if (!mine) return false;
    EffectSettings* settings = pageSettings();
    if (!settings) return true;
    updateData(true);
    SourceBinding& b = settings->sourceBindings[selectedParameter()];
    for (std::size_t i = 0; i < kChecks; ++i) b.*kCheckRows[i].field = checks_[i];
    invalidateMap();
    refreshPreview();
    return true;
}

void CMyPropertyPage4::invalidateMap() {
    HWND box = item(IDC_SOURCES_MAP_BOX);
    if (!box) return;
    RECT area{};
    GetClientRect(box, &area);
    MapWindowPoints(box, handle(), reinterpret_cast<POINT*>(&area), 2);
    InvalidateRect(handle(), &area, FALSE);
}

void CMyPropertyPage4::onPaint() {
    PAINTSTRUCT paint;
    BeginPaint(handle(), &paint);
    drawMap();
    EndPaint(handle(), &paint);
}

void CMyPropertyPage4::drawMap() {
    const RenderJob& job = setupJob();
    if (!job.settings || !mapPainter_.isOpen()) return;
    const SourceBinding& b = job.settings->sourceBindings[selectedParameter()];
    if (computeSourceMap(b, job, mapImage_.data()))
        mapPainter_.draw(item(IDC_SOURCES_MAP_BOX), mapImage_.data(), mapTarget_);
}

void CMyPropertyPage4::onDestroy() {
    mapPainter_.close();
    defaultHandling();
}

}  // namespace granulix
