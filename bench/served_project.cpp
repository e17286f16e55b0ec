#include "bench/served_project.h"

#include <cstring>
#include <vector>

#include "app/window_classes.h"
#include "bench/program_start.h"
#include "runtime_link/ansi_text.h"
#include "runtime_link/project_files.h"
#include "runtime_link/viewer_link.h"
#include "viewer/project_location.h"
#include "viewer/tag_database.h"
#include "viewer/win_handles.h"

namespace {

constexpr DWORD kPatienceMs = 30000;

bool RunToEnd(const std::string& program, const std::string& arguments)
{
    HANDLE process = StartBesideThis(program, arguments);
    if (!process) return false;
    DWORD exitCode = 1;
    if (WaitForSingleObject(process, kPatienceMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &exitCode);
    }
    CloseHandle(process);
    return exitCode == 0;
}

bool WaitForWindow(const char* className)
{
    for (DWORD waited = 0; waited < kPatienceMs; waited += 50) {
        if (FindWindowA(className, nullptr)) return true;
        Sleep(50);
    }
    return false;
}

// Closes the program owning the window of that class as a user would, and waits for its end.
void Close(const char* className)
{
    HWND window = FindWindowA(className, nullptr);
    if (!window) return;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    PostMessageA(window, WM_CLOSE, 0, 0);
    if (process) {
        WaitForSingleObject(process, kPatienceMs);
        CloseHandle(process);
    }
}

// The Viewer and the server need windows; under Wine without a display none can be made.
bool WindowsCanBeMade()
{
    HWND window = CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!window) return false;
    DestroyWindow(window);
    return true;
}

// PXVIEWER.CFG with the poll period at its offset (268) and the rest zero.
bool WriteViewerConfiguration(const std::string& path, int32_t pollPeriodMs)
{
    ResetProjectFiles();
    std::string bytes(g_headerMagic, kHeaderSize);
    bytes.resize(kHeaderSize + kViewerConfigSize, '\0');
    std::memcpy(&bytes[268], &pollPeriodMs, sizeof pollPeriodMs);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const UniqueHandle closer(file);
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

}  // namespace

ServedProject::ServedProject(int tags, int32_t pollPeriodMs)
{
    if (!WindowsCanBeMade()) {
        m_failure = "no display for the Viewer's and the server's windows (run under xvfb-run)";
        return;
    }
    if (FindWindowA(kServerWindowClass, nullptr) || FindWindowA(kViewerWindowClass, nullptr)) {
        m_failure = "a server or Viewer already runs";
        return;
    }
    const std::string system = m_directory.MakeSubdirectory("system");
    const std::string project = m_directory.MakeSubdirectory("project") + "\\";
    std::vector<TagDefinition> definitions;
    for (int i = 0; i < tags; ++i) {
        definitions.push_back(
            MakeTagDefinition("TAG" + std::to_string(i), 11, 0, kSimulationNone, "7"));
    }
    if (!WriteProjectPointer(system, project, m_failure) ||
        !WriteTagDatabase(project + "TAGNAME.DB", definitions, m_failure)) {
        return;
    }
    if (pollPeriodMs != 0 && !WriteViewerConfiguration(project + "PXVIEWER.CFG", pollPeriodMs)) {
        m_failure = "PXVIEWER.CFG cannot be written";
        return;
    }
    WriteProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(), system.c_str());
    m_viewer = StartBesideThis("PXViewer.exe", "--system-dir \"" + system + "\"");
    if (!m_viewer || !WaitForWindow(kViewerWindowClass)) {
        m_failure = "PXViewer.exe shows no window";
        return;
    }
    m_registered = RunToEnd("opcreg.exe", "/register \"" + ProgramFolder() + "OPCServer.exe\"");
    if (!m_registered) m_failure = "opcreg.exe cannot register OPCServer.exe";
}

ServedProject::~ServedProject()
{
    Close(kServerWindowClass);
    Close(kViewerWindowClass);
    if (m_registered) RunToEnd("opcreg.exe", "/unregister");
    WriteProfileStringA(kProfileSection, SystemDirectoryProfileKey().c_str(), nullptr);
    if (m_viewer) CloseHandle(m_viewer);
}
