#include "framework/frame_wnd.h"

#include "framework/afx_ids.h"
#include "framework/create_context.h"
#include "framework/doc_template.h"
#include "framework/view.h"
#include "framework/win_app.h"

namespace {

constexpr char kFrameClass[] = "ParhelionixFrame";

std::string FirstLineOfString(UINT id)
{
    char text[512] = "";
    LoadStringA(AfxGetInstanceHandle(), id, text, sizeof text);
    std::string line = text;
    return line.substr(0, line.find('\n'));
}

}  // namespace

BOOL CFrameWnd::LoadFrame(UINT resourceId, DWORD style, CCreateContext* context)
{
    m_title = FirstLineOfString(resourceId);
    m_accelerators = LoadAcceleratorsA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(resourceId));
    m_template = context ? context->m_pNewDocTemplate : nullptr;

    CREATESTRUCTA cs{};
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpszName = m_title.c_str();
    cs.style = style;
    cs.x = cs.y = cs.cx = cs.cy = CW_USEDEFAULT;
    cs.hMenu = LoadMenuA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(resourceId));
    cs.lpCreateParams = context;
    HMENU menu = cs.hMenu;
    if (CreateEx(cs)) return TRUE;
    // The menu belongs to the window only once the window exists.
    if (menu) DestroyMenu(menu);
    return FALSE;
}

void CFrameWnd::InitialUpdateFrame(BOOL makeVisible)
{
    if (m_view) m_view->OnInitialUpdate();
    if (!makeVisible) return;
    CWinApp* app = AfxGetApp();
    ShowWindow(app ? app->m_nCmdShow : SW_SHOWNORMAL);
    UpdateWindow();
}

BOOL CFrameWnd::PreTranslateMessage(MSG* msg)
{
    return m_accelerators && TranslateAcceleratorA(m_hWnd, m_accelerators, msg);
}

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCTA& cs)
{
    if (!cs.lpszClass) {
        if (!AfxRegisterDefaultClass(kFrameClass, CS_DBLCLKS)) return FALSE;
        cs.lpszClass = kFrameClass;
    }
    cs.dwExStyle |= WS_EX_CLIENTEDGE;
    return TRUE;
}

int CFrameWnd::OnCreate(CREATESTRUCTA* cs)
{
    if (Default() == -1) return -1;
    auto* context = static_cast<CCreateContext*>(cs->lpCreateParams);
    if (!context || !context->m_pNewView) return 0;
    m_view = context->m_pNewView();
    if (!m_view->Create(this, AFX_IDW_PANE_FIRST, context)) {
        m_view = nullptr;  // a view whose creation failed has deleted itself
        return -1;
    }
    return 0;
}

void CFrameWnd::OnClose()
{
    // The document closes with the frame; the template destroys the frame and then the document.
    if (m_template) {
        m_template->CloseDocument();
        return;
    }
    DestroyWindow();
}

void CFrameWnd::OnSize(UINT, int cx, int cy)
{
    if (m_view) MoveWindow(m_view->m_hWnd, 0, 0, cx, cy, TRUE);
}

BOOL CFrameWnd::OnCommand(UINT id)
{
    CWinApp* app = AfxGetApp();
    return app && app->OnCommand(id);
}

void CFrameWnd::PostNcDestroy()
{
    if (m_template) m_template->OnFrameDestroyed(this);
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this) {
        app->m_pMainWnd = nullptr;
        PostQuitMessage(0);
    }
    delete this;
}
