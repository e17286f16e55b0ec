#include "framework/win_app.h"

#include <commdlg.h>
#include <cstdlib>

#include "framework/afx_ids.h"
#include "framework/command_line_info.h"
#include "framework/doc_template.h"
#include "framework/message_box.h"
#include "framework/wnd.h"

namespace {

CWinApp* g_app = nullptr;

}  // namespace

CWinApp* AfxGetApp()
{
    return g_app;
}

CWinApp::CWinApp() : m_hInstance(AfxGetInstanceHandle())
{
    g_app = this;
    char title[256] = "";
    if (LoadStringA(m_hInstance, AFX_IDS_APP_TITLE, title, sizeof title) > 0) {
        m_appName = title;
        AfxSetAppTitle(title);
    }
}

CWinApp::~CWinApp()
{
    m_docTemplate.reset();
    if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    if (m_settings && m_recentFiles) m_recentFiles->WriteList(*m_settings);
    return m_exitCode;
}

BOOL CWinApp::OnCommand(UINT id)
{
    switch (id) {
    case ID_FILE_NEW:
        OnFileNew();
        return TRUE;
    case ID_FILE_OPEN:
        OnFileOpen();
        return TRUE;
    default:
        return FALSE;
    }
}

int CWinApp::RunApplication()
{
    if (!InitInstance()) {
        if (m_pMainWnd) m_pMainWnd->DestroyWindow();
        // A frame's destruction asks the loop, which does not run, to quit.
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        return ExitInstance();
    }
    return Run();
}

int CWinApp::Run()
{
    if (!m_pMainWnd) return ExitInstance();
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (m_pMainWnd && m_pMainWnd->PreTranslateMessage(&msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    m_exitCode = static_cast<int>(msg.wParam);
    return ExitInstance();
}

void CWinApp::AddDocTemplate(std::unique_ptr<CSingleDocTemplate> docTemplate)
{
    m_docTemplate = std::move(docTemplate);
}

void CWinApp::ParseCommandLine(CCommandLineInfo& info)
{
    ParseArguments(info, __argc, __argv);
}

BOOL CWinApp::ProcessShellCommand(const CCommandLineInfo& info)
{
    if (info.m_nShellCommand == CCommandLineInfo::FileOpen)
        return OpenDocumentFile(info.m_strFileName.c_str()) != nullptr;
    OnFileNew();
    return m_pMainWnd != nullptr;
}

CDocument* CWinApp::OpenDocumentFile(const char* path)
{
    if (!m_docTemplate) return nullptr;
    CDocument* document = m_docTemplate->OpenDocumentFile(path);
    if (document && path && m_recentFiles) m_recentFiles->Add(path);
    return document;
}

void CWinApp::OnFileNew()
{
    if (m_docTemplate) m_docTemplate->OpenDocumentFile(nullptr);
}

void CWinApp::OnFileOpen()
{
    char path[MAX_PATH] = "";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
    dialog.lpstrFile = path;
    dialog.nMaxFile = sizeof path;
    dialog.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameA(&dialog)) OpenDocumentFile(path);
}

void CWinApp::SetRegistryKey(const char* vendor)
{
    m_settings.emplace(vendor, m_appName);
}

void CWinApp::LoadStdProfileSettings(UINT maxRecentFiles)
{
    m_recentFiles = std::make_unique<CRecentFileList>(maxRecentFiles);
    if (m_settings) m_recentFiles->ReadList(*m_settings);
}

int AfxWinMain(HINSTANCE instance, int showCommand)
{
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = instance;
    app->m_nCmdShow = showCommand;
    return app->RunApplication();
}
