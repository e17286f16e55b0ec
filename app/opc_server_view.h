#pragma once
#include "framework/view.h"

// Lists every tag of the tag mirror with its name, value kind and value, repainted five
// times a second while the frame is visible.
class COPCServerView : public CView {
public:
    void OnInitialUpdate() override;
    void OnDraw(CDC* dc) override;

protected:
    void OnTimer(UINT_PTR id) override;
    void OnDestroy() override;
};
