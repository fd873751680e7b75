// The "Nature" page: minimum speed, linearity of the timeline, gravity and
// wind, and the two "Hold" flags. Sliders, letter buttons and check boxes
// as on the Movement page.
#pragma once

#include "slider_page.h"

namespace granulix {

class CMyPropertyPage2 : public SliderPage {
public:
    explicit CMyPropertyPage2(PageContext& context);
};

}  // namespace granulix
