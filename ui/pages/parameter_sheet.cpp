#include "parameter_sheet.h"

#include "resource.h"

namespace granulix {

CMyPropertySheet::CMyPropertySheet(fw::Window* parent, PageContext& context)
    : PropertySheet(IDS_PROPERTY_SHEET, parent),
      movement_(context),
      nature_(context),
      life_(context),
      sources_(context) {
    addPage(movement_);
    addPage(nature_);
    addPage(life_);
    addPage(sources_);
}

void CMyPropertySheet::loadPageFromSettings(int index) {
    switch (index) {
        case 0: movement_.LoadFromSettings(); break;
        case 1: nature_.LoadFromSettings(); break;
        case 2: life_.LoadFromSettings(); break;
        case 3: sources_.LoadFromSettings(); break;
        default: break;
    }
}

// Only a created sheet is bound to a window, so only it comes here.
void CMyPropertySheet::postNcDestroy() { delete this; }

}  // namespace granulix
