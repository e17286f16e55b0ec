#include "tests/e2e/server_process.h"

namespace {

struct WindowSearch {
    DWORD processId;
    const char* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hwnd, LPARAM param)
{
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    char className[64] = "";
    GetClassNameA(hwnd, className, sizeof className);
    if (owner != search->processId || lstrcmpA(className, search->className) != 0) return TRUE;
    search->found = hwnd;
    return FALSE;
}

}  // namespace

std::string ProgramDirectory()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::string directory = path;
    return directory.substr(0, directory.find_last_of('\\') + 1);
}

ServerProcess::ServerProcess(const std::string& workingDirectory, const std::string& arguments)
{
    std::string commandLine = "\"" + ProgramDirectory() + "OPCServer.exe\" " + arguments;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.c_str(), &startup, &m_process))
        m_process = PROCESS_INFORMATION{};
}

ServerProcess::~ServerProcess()
{
    if (!Started()) return;
    if (Running()) {
        if (HWND window = WaitForWindow("Parhelionix OPCServer Class"))
            PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForExit() == STILL_ACTIVE) TerminateProcess(m_process.hProcess, 1);
    }
    CloseHandle(m_process.hThread);
    CloseHandle(m_process.hProcess);
}

HWND ServerProcess::WaitForWindow(const char* className) const
{
    WindowSearch search{m_process.dwProcessId, className, nullptr};
    WaitUntil([&] {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr || !Running();
    });
    return search.found;
}

DWORD ServerProcess::WaitForExit() const
{
    WaitUntil([&] { return !Running(); });
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(m_process.hProcess, &code);
    return code;
}

bool ServerProcess::Running() const
{
    return WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}
