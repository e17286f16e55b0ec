#pragma once
#include <string>

#include "framework/wnd.h"

class CSingleDocTemplate;
class CView;
struct CCreateContext;

// A top-level window holding one view of one document, with the menu, accelerators and icon
// of one resource identifier. Deletes itself with its window; the application's main frame
// ends the message loop when it goes.
class CFrameWnd : public CWnd {
public:
    // Creates the frame with the menu, accelerators and title (the first line of the string
    // resource) of resourceId, and, through the context, its view.
    BOOL LoadFrame(UINT resourceId, DWORD style, CCreateContext* context);
    // Runs the view's initial update and shows the frame as the application asks.
    void InitialUpdateFrame(BOOL makeVisible);

    BOOL PreTranslateMessage(MSG* msg) override;

protected:
    BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
    int OnCreate(CREATESTRUCTA* cs) override;
    void OnClose() override;
    void OnSize(UINT type, int cx, int cy) override;
    // Commands the frame does not handle go to the application.
    BOOL OnCommand(UINT id) override;
    void PostNcDestroy() override;

private:
    std::string m_title;
    HACCEL m_accelerators = nullptr;
    CView* m_view = nullptr;
    CSingleDocTemplate* m_template = nullptr;
};
