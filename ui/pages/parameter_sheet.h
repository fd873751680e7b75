// The tabbed sheet of the parameter window: the four parameter pages,
// "Movement", "Nature", "Life" and "Sources", in that order, "Movement"
// selected at start. The setup dialog asks it which page is on display and
// has that page reload after a settings file was loaded.
//
// Create it with new; once create() has succeeded its window owns it and
// it deletes itself (with its pages) after the window is gone.
#pragma once

#include "life_page.h"
#include "movement_page.h"
#include "nature_page.h"
#include "page_context.h"
#include "property_sheet.h"
#include "sources_page.h"

namespace granulix {

class CMyPropertySheet : public fw::PropertySheet {
public:
    // The pages work on `context`, which must outlive the sheet.
    CMyPropertySheet(fw::Window* parent, PageContext& context);

    // 0..3, or -1 when no page is on display.
    int activePageIndex() const { return PropertySheet::activePageIndex(); }
    // Runs LoadFromSettings of page `index` if its window exists; any other
    // index does nothing.
    void loadPageFromSettings(int index);

protected:
    void postNcDestroy() override;

private:
    CMyPropertyPage1 movement_;
    CMyPropertyPage2 nature_;
    CMyPropertyPage3 life_;
    CMyPropertyPage4 sources_;
};

}  // namespace granulix
