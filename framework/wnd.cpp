#include "framework/wnd.h"

#include <unordered_map>

namespace {

std::unordered_map<HWND, CWnd*> g_windowMap;

// The object whose window CreateEx is creating, and that window's class; the creation hook
// joins the two.
CWnd* g_windowInCreation = nullptr;
const char* g_classInCreation = nullptr;

// The system may create windows of its own (an input method window, say) inside the same
// CreateWindowEx call; only a window of the requested class is the object's.
bool IsWindowInCreation(HWND hwnd)
{
    char className[256] = "";
    GetClassNameA(hwnd, className, sizeof className);
    return lstrcmpiA(className, g_classInCreation) == 0;
}

// The message being handled, for Default(); saved and restored around nested messages.
struct CurrentMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
CurrentMessage g_current{};

}  // namespace

LRESULT CALLBACK CreationHook(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && g_windowInCreation &&
        IsWindowInCreation(reinterpret_cast<HWND>(wParam))) {
        CWnd* wnd = g_windowInCreation;
        g_windowInCreation = nullptr;  // windows created from its handlers are not it
        wnd->Attach(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

HINSTANCE AfxGetInstanceHandle()
{
    return GetModuleHandleA(nullptr);
}

BOOL AfxRegisterClass(const WNDCLASSA& windowClass)
{
    WNDCLASSA existing;
    if (GetClassInfoA(windowClass.hInstance, windowClass.lpszClassName, &existing)) return TRUE;
    return RegisterClassA(&windowClass) != 0;
}

BOOL AfxRegisterDefaultClass(const char* className, UINT style)
{
    WNDCLASSA windowClass{};
    windowClass.style = style;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = AfxGetInstanceHandle();
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = className;
    return AfxRegisterClass(windowClass);
}

CWnd::~CWnd()
{
    if (m_hWnd) ::DestroyWindow(m_hWnd);
}

CWnd* CWnd::FromHandle(HWND hwnd)
{
    auto found = g_windowMap.find(hwnd);
    return found == g_windowMap.end() ? nullptr : found->second;
}

void CWnd::Attach(HWND hwnd)
{
    m_hWnd = hwnd;
    g_windowMap[hwnd] = this;
    m_classProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
}

void CWnd::Detach()
{
    SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_classProc));
    g_windowMap.erase(m_hWnd);
    m_hWnd = nullptr;
}

BOOL CWnd::CreateEx(CREATESTRUCTA cs)
{
    if (!PreCreateWindow(cs)) {
        PostNcDestroy();
        return FALSE;
    }
    HHOOK hook = SetWindowsHookExA(WH_CBT, CreationHook, nullptr, GetCurrentThreadId());
    CWnd* outer = g_windowInCreation;
    const char* outerClass = g_classInCreation;
    g_windowInCreation = this;
    g_classInCreation = cs.lpszClass;
    HWND hwnd =
        CreateWindowExA(cs.dwExStyle, cs.lpszClass, cs.lpszName, cs.style, cs.x, cs.y, cs.cx, cs.cy,
                        cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    bool neverAttached = g_windowInCreation == this;
    g_windowInCreation = outer;
    g_classInCreation = outerClass;
    UnhookWindowsHookEx(hook);
    // A window whose OnCreate failed has already been destroyed and its object told so; one
    // that never came to exist is told here.
    if (!hwnd && neverAttached) PostNcDestroy();
    return hwnd != nullptr;
}

BOOL CWnd::DestroyWindow()
{
    return m_hWnd && ::DestroyWindow(m_hWnd);
}
BOOL CWnd::ShowWindow(int showCommand)
{
    return ::ShowWindow(m_hWnd, showCommand);
}
void CWnd::UpdateWindow()
{
    ::UpdateWindow(m_hWnd);
}
void CWnd::Invalidate(BOOL erase)
{
    InvalidateRect(m_hWnd, nullptr, erase);
}
UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs)
{
    return ::SetTimer(m_hWnd, id, elapseMs, nullptr);
}
BOOL CWnd::KillTimer(UINT_PTR id)
{
    return ::KillTimer(m_hWnd, id);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTA&)
{
    return TRUE;
}
BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

LRESULT CWnd::Default()
{
    return CallWindowProcA(m_classProc, m_hWnd, g_current.message, g_current.wParam,
                           g_current.lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(reinterpret_cast<CREATESTRUCTA*>(lParam));
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return 0;
    case WM_COMMAND:
        if (OnCommand(LOWORD(wParam))) return 0;
        return Default();
    default:
        return Default();
    }
}

int CWnd::OnCreate(CREATESTRUCTA*)
{
    return static_cast<int>(Default());
}
void CWnd::OnDestroy()
{
    Default();
}
void CWnd::OnTimer(UINT_PTR)
{
    Default();
}
void CWnd::OnClose()
{
    Default();
}
void CWnd::OnPaint()
{
    Default();
}
void CWnd::OnSize(UINT, int, int)
{
    Default();
}
BOOL CWnd::OnCommand(UINT)
{
    return FALSE;
}
void CWnd::PostNcDestroy() {}

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* wnd = CWnd::FromHandle(hwnd);
    if (!wnd) return DefWindowProcA(hwnd, message, wParam, lParam);
    CurrentMessage outer = g_current;
    g_current = {message, wParam, lParam};
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    g_current = outer;
    // The object may have deleted itself inside a handler; only WM_NCDESTROY touches it here,
    // and that is the last message it gets.
    if (message == WM_NCDESTROY) {
        wnd->Detach();
        wnd->PostNcDestroy();
    }
    return result;
}
