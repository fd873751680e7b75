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

// The map picture: one for the module, as only one setup dialog runs at a
// time; computed per paint, never allocated.
uint32_t mapImage[kSourceMapWidth * kSourceMapHeight];

}  // namespace

std::string sourceKindText(int32_t kind) {
    if (kind >= 0 && kind <= int32_t(kLastSourceKind)) return kSourceKindNames[kind];
    return std::to_string(kind);
}

CMyPropertyPage4::CMyPropertyPage4(PageContext& context) : ParameterPage(IDD_SOURCES, context) {}

const fw::MessageMap* CMyPropertyPage4::messageMap() const {
    static const fw::MessageEntry entries[] = {
        fw::onVScroll<CMyPropertyPage4, &CMyPropertyPage4::onVScroll>(),
        fw::onCommand<CMyPropertyPage4, &CMyPropertyPage4::onInvertOrOdd>(IDC_SOURCES_INVERT),
        fw::onCommand<CMyPropertyPage4, &CMyPropertyPage4::onInvertOrOdd>(IDC_SOURCES_ODD_X),
        fw::onCommand<CMyPropertyPage4, &CMyPropertyPage4::onInvertOrOdd>(IDC_SOURCES_ODD_Y),
        fw::onPaint<CMyPropertyPage4, &CMyPropertyPage4::onPaint>(),
        fw::onDestroy<CMyPropertyPage4, &CMyPropertyPage4::onDestroy>(),
    };
    static const fw::MessageMap map{fw::PropertyPage::messageMap(), entries, std::size(entries)};
    return &map;
}

void CMyPropertyPage4::doDataExchange(fw::DataExchange& dx) {
    fw::exchangeControl(dx, IDC_SOURCES_KIND_SPIN, sourceSpin_);
    fw::exchangeControl(dx, IDC_SOURCES_REPEAT_Y_SPIN, repeatYSpin_);
    fw::exchangeControl(dx, IDC_SOURCES_REPEAT_X_SPIN, repeatXSpin_);
    fw::exchangeControl(dx, IDC_SOURCES_PARAMETER_SPIN, parameterSpin_);
    fw::exchangeCheck(dx, IDC_SOURCES_INVERT, invertCheck);
    fw::exchangeCheck(dx, IDC_SOURCES_ODD_X, oddXCheck);
    fw::exchangeCheck(dx, IDC_SOURCES_ODD_Y, oddYCheck);
    fw::exchangeText(dx, IDC_SOURCES_PARAMETER_NAME, parameterText);
    fw::exchangeText(dx, IDC_SOURCES_REPEAT_X, repeatXText);
    fw::exchangeText(dx, IDC_SOURCES_REPEAT_Y, repeatYText);
    fw::exchangeText(dx, IDC_SOURCES_KIND_NAME, sourceText);
    fw::exchangeText(dx, IDC_SOURCES_LEGEND, legendText);
}

bool CMyPropertyPage4::onInitDialog() {
    PropertyPage::onInitDialog();
    parameterSpin_.setRange(0, kBindingCount - 1);
    // The three bindings share their ranges; binding 0's rows stand for all.
    const SettingsField& repeatX = bindingField(0, &SourceBinding::repeatX);
    const SettingsField& repeatY = bindingField(0, &SourceBinding::repeatY);
    const SettingsField& kind = bindingField(0, &SourceBinding::kind);
    repeatXSpin_.setRange(repeatX.minimum, repeatX.maximum);
    repeatYSpin_.setRange(repeatY.minimum, repeatY.maximum);
    sourceSpin_.setRange(kind.minimum, kind.maximum);
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
    repeatXSpin_.setPosition(b.repeatX);
    repeatYSpin_.setPosition(b.repeatY);
    sourceSpin_.setPosition(b.kind);
    invertCheck = b.invert;
    oddXCheck = b.oddX;
    oddYCheck = b.oddY;
    parameterText = kBindingNames[p];
    sourceText = sourceKindText(b.kind);
    repeatXText = std::to_string(b.repeatX);
    repeatYText = std::to_string(b.repeatY);
    legendText = kLegends[p];
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
        if (spin == sourceSpin_.handle()) b.kind = sourceSpin_.position();
        else if (spin == repeatXSpin_.handle()) b.repeatX = repeatXSpin_.position();
        else if (spin == repeatYSpin_.handle()) b.repeatY = repeatYSpin_.position();
    }
    LoadFromSettings();
    defaultHandling();
}

void CMyPropertyPage4::onInvertOrOdd() {
    EffectSettings* settings = pageSettings();
    if (!settings) return;
    updateData(true);
    SourceBinding& b = settings->sourceBindings[selectedParameter()];
    b.invert = invertCheck;
    b.oddX = oddXCheck;
    b.oddY = oddYCheck;
    invalidateMap();
    refreshPreview();
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
    if (computeSourceMap(b, job, mapImage))
        mapPainter_.draw(item(IDC_SOURCES_MAP_BOX), mapImage, mapTarget_);
}

void CMyPropertyPage4::onDestroy() {
    mapPainter_.close();
    defaultHandling();
}

}  // namespace granulix
