#include "app/opc_server_app.h"

#include <shellapi.h>

#include <memory>
#include <new>

#include "app/about_dialog.h"
#include "app/com_startup.h"
#include "app/main_frame.h"
#include "app/opc_server_doc.h"
#include "app/opc_server_view.h"
#include "app/resources/resource.h"
#include "app/tray_icon.h"
#include "app/window_classes.h"
#include "diagnostics/support_trace.h"
#include "framework/afx_ids.h"
#include "framework/command_line_info.h"
#include "framework/doc_template.h"
#include "framework/message_box.h"
#include "framework/shell_execute.h"
#include "opc/server/server_capacity.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"
#include "runtime_link/shared_tag_area.h"
#include "runtime_link/tag_mirror.h"
#include "runtime_link/viewer_link.h"

namespace {

constexpr char kVendorKey[] = "Parhelionix";
constexpr char kViewerProgram[] = "PXViewer.exe";
constexpr UINT kRecentFiles = 4;
// Wine's activation gives its client up after about 30 s without the class object.
constexpr DWORD kServingCopyWaitMs = 30000;
// Under Wine without a window manager, the tray hides its window once its last icon has gone
// and waits 2 s for that; the icon itself is gone at once.
constexpr DWORD kTrayIconDeleteWaitMs = 100;

DWORD WINAPI DeleteTrayIconRecord(void* parameter)
{
    const std::unique_ptr<NOTIFYICONDATAA> record(static_cast<NOTIFYICONDATAA*>(parameter));
    Shell_NotifyIconA(NIM_DELETE, record.get());
    return 0;
}

}  // namespace

COPCServerApp::COPCServerApp()
{
    ResetProjectFiles();
    g_comStarted = false;
    g_registrationCookie = 0;
}

BOOL COPCServerApp::InitInstance()
{
    CCommandLineInfo commandLine;
    ParseCommandLine(commandLine);
    // Every early exit returns TRUE without a main window: the loop then ends at once.
    if (!m_instanceClaim.Take(commandLine.m_bRunEmbedded, kServingCopyWaitMs)) return TRUE;
    // Only the serving copy traces: the file is one server's story.
    if (SupportTraceWanted(GetCommandLineW()) && StartSupportTrace()) {
        SUPPORT_TRACE(TraceClient{}, S_OK, "server started%s", commandLine.m_bRunEmbedded
                                                                   ? " by COM"
                                                                   : "");
    }
    LoadServerCapacity();
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
    if (g_registrationCookie) m_instanceClaim.AnnounceClassObject();
    m_pMainWnd->ShowWindow(SW_HIDE);
    m_trayIcon = LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    if (m_trayIcon) AddTrayIcon(m_pMainWnd->m_hWnd, m_trayIcon);
    m_pMainWnd->UpdateWindow();
    return TRUE;
}

int COPCServerApp::ExitInstance()
{
    // The clients have had their notice: what is left must not wait on any of them.
    m_exitWatchdog.Shorten();
    SUPPORT_TRACE(TraceClient{}, S_OK, "exit: main window gone, ending COM");
    m_instanceClaim.WithdrawClassObject();
    if (g_comStarted) {
        StopCom();
        WatchViewer(nullptr);
        ReleaseTagMirror();
    }
    SUPPORT_TRACE(TraceClient{}, S_OK, "exit: done");
    StopSupportTrace();
    // A copy COM started meanwhile may serve from now on.
    m_instanceClaim.Release();
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
    // The tray's answer is not waited for past the icon's removal: the call goes on in a thread
    // of its own, which the process's end takes along.
    auto* copy = new (std::nothrow) NOTIFYICONDATAA(record);
    HANDLE thread =
        copy ? CreateThread(nullptr, 0, DeleteTrayIconRecord, copy, 0, nullptr) : nullptr;
    if (!thread) {
        delete copy;
        Shell_NotifyIconA(NIM_DELETE, &record);
        return;
    }
    WaitForSingleObject(thread, kTrayIconDeleteWaitMs);
    CloseHandle(thread);
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
