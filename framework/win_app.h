#pragma once
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "framework/object.h"
#include "framework/profile_settings.h"
#include "framework/recent_file_list.h"

class CCommandLineInfo;
class CDocument;
class CSingleDocTemplate;
class CWnd;

// The application: set-up in InitInstance, the message loop, clean-up in ExitInstance.
// Exactly one exists at a time; AfxGetApp finds it.
class CWinApp : public CObject {
public:
    CWinApp();
    ~CWinApp() override;

    // TRUE runs the message loop, which ends at once when no main window was made; FALSE
    // skips it. ExitInstance runs either way and gives the exit code.
    virtual BOOL InitInstance();
    virtual int ExitInstance();
    // Commands no window handled; TRUE when handled.
    virtual BOOL OnCommand(UINT id);

    // The whole life of the application after its construction; returns the exit code.
    int RunApplication();

    void AddDocTemplate(std::unique_ptr<CSingleDocTemplate> docTemplate);
    void ParseCommandLine(CCommandLineInfo& info);
    // Opens the document the command line names, or a new one; FALSE when that made no
    // main window.
    BOOL ProcessShellCommand(const CCommandLineInfo& info);
    CDocument* OpenDocumentFile(const char* path);
    void OnFileNew();
    void OnFileOpen();

    // Keeps the profile under HKEY_CURRENT_USER\Software\<vendor>\<application title>.
    void SetRegistryKey(const char* vendor);
    // Reads the recent-file list of maxRecentFiles entries; ExitInstance writes it back.
    void LoadStdProfileSettings(UINT maxRecentFiles = 4);

    HINSTANCE m_hInstance;
    int m_nCmdShow = SW_SHOWNORMAL;
    std::string m_appName;  // the AFX_IDS_APP_TITLE string
    CWnd* m_pMainWnd = nullptr;

private:
    int Run();

    std::unique_ptr<CSingleDocTemplate> m_docTemplate;
    std::optional<CProfileSettings> m_settings;
    std::unique_ptr<CRecentFileList> m_recentFiles;
    int m_exitCode = 0;
};

CWinApp* AfxGetApp();

// The program entry's work: sets the application up from the module and runs it.
int AfxWinMain(HINSTANCE instance, int showCommand);
