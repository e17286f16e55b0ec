#include "app/main_frame.h"

#include <cstdlib>
#include <memory>
#include <type_traits>

#include "app/opc_server_app.h"
#include "app/resources/resource.h"
#include "app/window_classes.h"
#include "diagnostics/support_trace.h"
#include "framework/afx_ids.h"
#include "opc/datachange/update_pass.h"
#include "opc/server/shutdown_notice.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"
#include "runtime_link/tag_mirror.h"

namespace {

constexpr UINT_PTR kPollTimer = 2000;

// Caption, system menu, minimise and maximise boxes: no sizing border, not visible, and the
// title never takes the document's name.
constexpr DWORD kFrameStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
constexpr UINT kFrameClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;

struct MenuDestroyer {
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};

COPCServerApp* ServerApp()
{
    return dynamic_cast<COPCServerApp*>(AfxGetApp());
}

}  // namespace

CMainFrame::CMainFrame() : m_windowTitle(AnsiFromWide(L"数据通讯程序")) {}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCTA& cs)
{
    cs.lpszName = m_windowTitle.c_str();
    cs.style = kFrameStyle;

    m_windowClassName = kServerWindowClass;
    WNDCLASSA windowClass{};
    windowClass.style = kFrameClassStyle;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = AfxGetInstanceHandle();
    windowClass.hIcon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    windowClass.lpszClassName = m_windowClassName.c_str();
    if (!AfxRegisterClass(windowClass)) return FALSE;

    cs.lpszClass = m_windowClassName.c_str();
    if (!CFrameWnd::PreCreateWindow(cs)) return FALSE;
    cs.dwExStyle &= ~static_cast<DWORD>(WS_EX_CLIENTEDGE);
    return TRUE;
}

LRESULT CMainFrame::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TRAYNOTIFY) return OnTrayNotification(wParam, lParam);
    if (message == WM_PROMPTCOMPLETIONS) {
        RunPromptCompletions();
        return 0;
    }
    // Windows ending the session: the server never objects, and ends with its clients told why
    // while the session still waits for it (a few seconds). Windows may end the process as soon
    // as this message is answered, so it is never answered: whatever the end has left to do is
    // done here, and the process ends. That holds when it comes during an end already begun (a
    // logoff just after tray Exit, dispatched during the notice's wait): the end below it on
    // this thread's stack only resumes once this message returns, so this one finishes it.
    if (message == WM_QUERYENDSESSION) return TRUE;
    if (message == WM_ENDSESSION && wParam) {
        EndServer(ShutdownCause::SessionEnding);
        COPCServerApp* app = ServerApp();
        std::exit(app ? app->ExitInstance() : 0);
    }
    return CFrameWnd::WindowProc(message, wParam, lParam);
}

int CMainFrame::OnCreate(CREATESTRUCTA* cs)
{
    if (CFrameWnd::OnCreate(cs) == -1) return -1;
    // Stored back, so that the update pass counts down exactly the period the timer runs at.
    int32_t& period = PollPeriod();
    period = PollTimerPeriod();
    SetTimer(kPollTimer, static_cast<UINT>(period));
    SetPromptCompletionPoster(
        [](void* window) {
            return PostMessageA(static_cast<HWND>(window), WM_PROMPTCOMPLETIONS, 0, 0) != FALSE;
        },
        m_hWnd);
    return 0;
}

void CMainFrame::OnTimer(UINT_PTR)
{
    RunPollCycle();
    Default();
}

void CMainFrame::OnClose()
{
    if (m_endStep != EndStep::Serving) {
        // A WM_CLOSE or tray Exit during the end: the end already under way goes on.
        SUPPORT_TRACE(TraceClient{}, S_OK, "exit: asked for again during the exit, which goes on");
        return;
    }
    EndServer(ShutdownCause::ServerClosed);
}

void CMainFrame::EndServer(ShutdownCause cause)
{
    COPCServerApp* app = ServerApp();
    const char* const why =
        cause == ShutdownCause::SessionEnding ? "Windows ends the session" : "asked for";
    if (m_endStep == EndStep::Serving) {
        m_endStep = EndStep::Notifying;
        if (app) app->m_exitWatchdog.Arm();
        SUPPORT_TRACE(TraceClient{}, S_OK, "exit: %s; shutdown notice to the clients", why);
    } else {
        SUPPORT_TRACE(TraceClient{}, S_OK, "exit: %s during the exit, which is finished from here",
                      why);
        if (m_endStep == EndStep::Closing) return;
    }
    // The clients hear of the end while the server still serves them. Called again during
    // this wait, it sends nothing and waits for the same notice.
    const int answered = NotifyClientsOfShutdown(kShutdownNoticeWaitMs, cause);
    m_endStep = EndStep::Closing;
    SUPPORT_TRACE(TraceClient{}, S_OK, "exit: %d clients answered the shutdown notice", answered);
    KillTimer(kPollTimer);
    // No more prompt answers: the groups noted are let go while COM still runs.
    SetPromptCompletionPoster(nullptr, nullptr);
    if (app) app->DeleteTrayIcon(m_hWnd, app->m_trayIcon);
    CFrameWnd::OnClose();
}

BOOL CMainFrame::OnCommand(UINT id)
{
    if (id == ID_APP_EXIT) {
        OnClose();
        return TRUE;
    }
    return CFrameWnd::OnCommand(id);
}

LRESULT CMainFrame::OnTrayNotification(WPARAM, LPARAM mouseMessage)
{
    if (mouseMessage != WM_RBUTTONUP && mouseMessage != WM_LBUTTONDBLCLK) return 0;
    std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer> menu(
        LoadMenuA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_TRAYMENU)));
    if (!menu) return 0;
    HMENU popup = GetSubMenu(menu.get(), 0);
    if (!popup) return 0;

    if (mouseMessage == WM_RBUTTONUP) {
        SetMenuDefaultItem(popup, 0, TRUE);
        POINT cursor{};
        GetCursorPos(&cursor);
        // Without this the popup does not close when the user clicks elsewhere.
        SetForegroundWindow(m_hWnd);
        TrackPopupMenu(popup, TPM_LEFTBUTTON, cursor.x, cursor.y, 0, m_hWnd, nullptr);
    } else {
        SendMessage(WM_COMMAND, GetMenuItemID(popup, 0), 0);
    }
    return 1;
}
