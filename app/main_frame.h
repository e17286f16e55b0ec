#pragma once
#include <string>

#include "framework/frame_wnd.h"
#include "opc/server/shutdown_notice.h"

// The tray icon's mouse notifications arrive as this message.
constexpr UINT WM_TRAYNOTIFY = WM_USER + 5;
// Posted when asynchronous requests wait to be answered once the calls that made them have
// returned.
constexpr UINT WM_PROMPTCOMPLETIONS = WM_USER + 6;

// The hidden main window: its class name marks a running server, its timer runs the poll
// cycle, and it answers the tray icon with the About/Exit menu.
class CMainFrame : public CFrameWnd {
public:
    CMainFrame();

    // Shows the tray menu on a right-button release, the About box on a double click;
    // 1 when the notification was one of those, 0 otherwise.
    LRESULT OnTrayNotification(WPARAM iconId, LPARAM mouseMessage);

protected:
    BOOL PreCreateWindow(CREATESTRUCTA& cs) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    int OnCreate(CREATESTRUCTA* cs) override;
    void OnTimer(UINT_PTR id) override;
    void OnClose() override;
    BOOL OnCommand(UINT id) override;

private:
    // How far the end of the server has come. Its waits dispatch the messages sent to the
    // window meanwhile, so a WM_CLOSE, tray Exit or WM_ENDSESSION may come during the end.
    enum class EndStep { Serving, Notifying, Closing };

    // The end of the server: the clients' shutdown notice for `cause`, the poll timer and the
    // tray icon, then the window closes and the program ends. Each step runs once: called
    // again (for WM_ENDSESSION, which never returns) during the notice, it waits for the notice
    // already sent and then closes the window itself; called during the closing, it does nothing.
    void EndServer(ShutdownCause cause);

    // Kept here because the registered class and the window point at them.
    std::string m_windowTitle;
    std::string m_windowClassName;
    EndStep m_endStep = EndStep::Serving;
};
