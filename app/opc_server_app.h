#pragma once
#include <windows.h>

#include "app/exit_watchdog.h"
#include "app/instance_claim.h"
#include "framework/win_app.h"
#include "runtime_link/mapped_memory.h"

// The server process: start-up takes the instance claim, checks the project and the Viewer,
// makes the hidden main window, links to the Viewer's tags, starts COM and shows the tray icon;
// exit undoes COM and frees the tag mirror, bounded in time by the exit watchdog.
class COPCServerApp : public CWinApp {
public:
    COPCServerApp();

    BOOL InitInstance() override;
    int ExitInstance() override;
    BOOL OnCommand(UINT id) override;

    // Each does nothing without an icon. The deletion waits for the tray only a short while.
    void AddTrayIcon(HWND window, HICON icon);
    void DeleteTrayIcon(HWND window, HICON icon);
    void OnAppAbout();

    HICON m_trayIcon = nullptr;
    // Unmaps the shared tag area when the application object goes, at process end.
    CMappedMemory m_sharedMemory;
    // Armed when the main window is closed and shortened when the exit begins; bounds the rest
    // of the process's life.
    ExitWatchdog m_exitWatchdog;

protected:
    // Decides which of the copies started together serves; held until the exit is done.
    InstanceClaim m_instanceClaim;

    // The start-up steps that reach the rest of the system, in the order InitInstance runs
    // them.
    virtual bool LookupProject();
    virtual void LoadViewerConfiguration();
    virtual void StartViewer();
    virtual bool CheckTagDatabase();
    virtual void AttachSharedTagArea();
    virtual void BuildTagMirror();
    virtual void StartCom();
};
