#pragma once
#include <windows.h>

#include <string>

// OPCServer.exe from the build's program folder, started as a user would start it. A server
// still running when the object goes is ended through its own window, or by force.
class ServerProcess {
public:
    explicit ServerProcess(const std::string& workingDirectory, const std::string& arguments = "");
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool Started() const { return m_process.hProcess != nullptr; }
    DWORD Id() const { return m_process.dwProcessId; }
    // The process's top-level window of that class, once it exists; null after the timeout.
    HWND WaitForWindow(const char* className) const;
    // The exit code once the process has ended; STILL_ACTIVE after the timeout.
    DWORD WaitForExit() const;
    bool Running() const;

private:
    PROCESS_INFORMATION m_process{};
};

// The folder holding this test program and the programs built beside it, with a backslash.
std::string ProgramDirectory();

// Waits until done() holds or the timeout passes, handling this thread's messages meanwhile
// (the test's own stand-in Viewer window must answer). Returns done().
template <class Done>
bool WaitUntil(Done done, DWORD timeoutMs = 30000)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    return true;
}
