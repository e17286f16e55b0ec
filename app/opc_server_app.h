#pragma once
#include <windows.h>

#include "framework/win_app.h"
#include "runtime_link/mapped_memory.h"

// The server process: start-up checks the instance, the project and the Viewer, makes the
// hidden main window, links to the Viewer's tags, starts COM and shows the tray icon; exit
// undoes COM and frees the tag mirror.
class COPCServerApp : public CWinApp {
public:
    COPCServerApp();

    BOOL InitInstance() override;
    int ExitInstance() override;
    BOOL OnCommand(UINT id) override;

    // Each does nothing without an icon.
    void AddTrayIcon(HWND window, HICON icon);
    void DeleteTrayIcon(HWND window, HICON icon);
    void OnAppAbout();

    HICON m_trayIcon = nullptr;
    // Unmaps the shared tag area when the application object goes, at process end.
    CMappedMemory m_sharedMemory;

protected:
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
