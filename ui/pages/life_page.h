// The "Life" page: when the particles start (delay and its noise), how long
// they live (minimum and maximum life), and the calculation order, chosen
// with two pairs of push-like radio buttons, one bit of the order flags per
// pair.
#pragma once

#include "controls.h"
#include "slider_page.h"

namespace granulix {

class CMyPropertyPage3 : public SliderPage {
public:
    explicit CMyPropertyPage3(PageContext& context);

protected:
    void doDataExchange(fw::DataExchange& dx) override;
    void loadOwnControls() override;
    bool writesMembersOnLoad() const override { return false; }
    const fw::MessageMap* messageMap() const override;

private:
    struct OrderBinding;
    static const OrderBinding kOrder[2];

    bool onOrderCommand(UINT id, UINT code, HWND control);

    fw::Button rightToLeft_;
    fw::Button downToUp_;
    fw::Button upToDown_;
    fw::Button leftToRight_;
};

}  // namespace granulix
