#pragma once
#include "framework/dc.h"
#include "framework/wnd.h"

class CDocument;
struct CCreateContext;

// The child window of a frame that draws its document. Deletes itself with its window.
class CView : public CWnd {
public:
    BOOL Create(CWnd* parent, UINT id, CCreateContext* context);
    CDocument* GetDocument() const { return m_pDocument; }

    // Runs once the frame and document are joined; the base repaints the whole view.
    virtual void OnInitialUpdate();
    virtual void OnDraw(CDC* dc) = 0;

protected:
    BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
    void OnPaint() override;
    void PostNcDestroy() override;

    CDocument* m_pDocument = nullptr;
};
