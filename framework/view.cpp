#include "framework/view.h"

#include "framework/create_context.h"

namespace {

constexpr char kViewClass[] = "ParhelionixView";

}  // namespace

BOOL CView::Create(CWnd* parent, UINT id, CCreateContext* context)
{
    m_pDocument = context ? context->m_pCurrentDoc : nullptr;
    CREATESTRUCTA cs{};
    cs.hInstance = AfxGetInstanceHandle();
    cs.hwndParent = parent->m_hWnd;
    cs.hMenu = reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id));
    cs.style = WS_CHILD | WS_VISIBLE | WS_BORDER;
    cs.dwExStyle = WS_EX_CLIENTEDGE;
    return CreateEx(cs);
}

void CView::OnInitialUpdate()
{
    Invalidate(TRUE);
}

BOOL CView::PreCreateWindow(CREATESTRUCTA& cs)
{
    if (cs.lpszClass) return TRUE;
    if (!AfxRegisterDefaultClass(kViewClass, CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW)) return FALSE;
    cs.lpszClass = kViewClass;
    return TRUE;
}

void CView::OnPaint()
{
    PAINTSTRUCT paint;
    HDC hdc = BeginPaint(m_hWnd, &paint);
    CDC dc(hdc);
    OnDraw(&dc);
    EndPaint(m_hWnd, &paint);
}

void CView::PostNcDestroy()
{
    delete this;
}
