#include "app/opc_server_app.h"

#include <shellapi.h>

#include "app/about_dialog.h"
#include "app/com_startup.h"
#include "app/main_frame.h"
#include "app/opc_server_doc.h"
#include "app/opc_server_view.h"
#include "app/resources/resource.h"
#include "app/tray_icon.h"
#include "app/window_classes.h"
#include "framework/afx_ids.h"
#include "framework/command_line_info.h"
#include "framework/doc_template.h"
#include "framework/message_box.h"
#include "framework/shell_execute.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/tag_mirror.h"
#include "runtime_link/viewer_link.h"

namespace {

constexpr char kVendorKey[] = "Parhelionix";
constexpr char kViewerProgram[] = "PXViewer.exe";
constexpr UINT kRecentFiles = 4;

}  // namespace

COPCServerApp::COPCServerApp()
{
    ResetProjectFiles();
    g_comStarted = false;
    g_registrationCookie = 0;
}

BOOL COPCServerApp::InitInstance()
{
    // Every early exit returns TRUE without a main window: the loop then ends at once.
    if (FindWindowA(kServerWindowClass, nullptr)) return TRUE;  // that instance serves
    if (!LookupProject()) return TRUE;
    // Before the Viewer check, so that even a start that only starts the Viewer leaves a
    // configuration behind; and before the main window, whose timer takes its poll period.
    LoadViewerConfiguration();
    if (!FindWindowA(kViewerWindowClass, nullptr)) {
        StartViewer();
        return TRUE;
    }
    if (!CheckTagDatabase()) return TRUE;

    SetRegistryKey(kVendorKey);
    LoadStdProfileSettings(kRecentFiles);
    AddDocTemplate(MakeSingleDocTemplate<COPCServerDoc, CMainFrame, COPCServerView>(IDR_MAINFRAME));
    CCommandLineInfo commandLine;
    ParseCommandLine(commandLine);
    if (!ProcessShellCommand(commandLine)) return FALSE;

    AttachSharedTagArea();
    if (!g_sharedTagArea) {
        // The Viewer's window exists but its tag area does not: there is nothing to serve.
        AfxMessageBox(AnsiFromWide(L"无法打开实时数据库共享内存，请重新启动运行系统!").c_str(),
                      MB_ICONEXCLAMATION);
        return FALSE;
    }
    BuildTagMirror();
    WatchViewer(&m_sharedMemory);
    StartCom();
    m_pMainWnd->ShowWindow(SW_HIDE);
    m_trayIcon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    if (m_trayIcon) AddTrayIcon(m_pMainWnd->m_hWnd, m_trayIcon);
    m_pMainWnd->UpdateWindow();
    return TRUE;
}

int COPCServerApp::ExitInstance()
{
    if (g_comStarted) {
        StopCom();
        WatchViewer(nullptr);
        ReleaseTagMirror();
    }
    return CWinApp::ExitInstance();
}

BOOL COPCServerApp::OnCommand(UINT id)
{
    if (id == ID_APP_ABOUT) {
        OnAppAbout();
        return TRUE;
    }
    return CWinApp::OnCommand(id);
}

void COPCServerApp::AddTrayIcon(HWND window, HICON icon)
{
    if (!icon) return;
    NOTIFYICONDATAA record = TrayIconRecord(window, icon);
    Shell_NotifyIconA(NIM_ADD, &record);
}

void COPCServerApp::DeleteTrayIcon(HWND window, HICON icon)
{
    if (!icon) return;
    NOTIFYICONDATAA record = TrayIconRecord(window, icon);
    Shell_NotifyIconA(NIM_DELETE, &record);
}

void COPCServerApp::OnAppAbout()
{
    CAboutDlg about;
    about.DoModal();
}

bool COPCServerApp::LookupProject()
{
    return ::LookupProject();
}
void COPCServerApp::LoadViewerConfiguration()
{
    ::LoadViewerConfiguration();
}

void COPCServerApp::StartViewer()
{
    // The server does not wait for the Viewer; the next start finds its window.
    AfxShellExecute(nullptr, nullptr, kViewerProgram, nullptr, g_systemProgramDirectory,
                    SW_SHOWMINIMIZED);
}

bool COPCServerApp::CheckTagDatabase()
{
    return ::CheckTagDatabase();
}
void COPCServerApp::AttachSharedTagArea()
{
    ::AttachSharedTagArea(m_sharedMemory);
}

void COPCServerApp::BuildTagMirror()
{
    ::BuildTagMirror();
}

void COPCServerApp::StartCom()
{
    ::StartCom();
}
