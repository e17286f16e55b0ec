// The OPC server as clients in other processes meet it: a project with its Viewer running
// (PXViewer.exe), OPCServer.exe registered with opcreg.exe and started by COM on the first
// activation. Set up once for the test program; at the end the server and the Viewer are
// closed through their windows and the registration is removed.
#pragma once

#include <windows.h>

#include <string>

#include "viewer/win_handles.h"

// The folder of this test program and the programs built beside it, with a backslash.
std::wstring ProgramFolder();

// opcclient.exe in both bitnesses: the 64-bit one beside this test program, the 32-bit one in its
// x86 folder. Tests of what a client sees run with each.
inline const wchar_t* const kOpcclients[] = {L"opcclient.exe", L"x86\\opcclient.exe"};

// Runs a program of that folder to its end with `arguments`; returns its exit code and puts its
// standard output and error (UTF-8 through a pipe) into `output`. STILL_ACTIVE when it did not
// end in time.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, std::string& output);

// Starts a program of that folder with `arguments`; null when it could not be started.
UniqueHandle StartClientProgram(const std::wstring& program, const std::wstring& arguments);

// A client of the server in a process of its own: frozen_shutdown_client.exe in one of its
// modes, connected, frozen and killed as the test says; killed when the object goes at the
// latest (a frozen client would hang on for its lifetime).
class OtherClient {
public:
    explicit OtherClient(const wchar_t* mode);
    ~OtherClient() { Kill(); }
    OtherClient(const OtherClient&) = delete;
    OtherClient& operator=(const OtherClient&) = delete;

    // True once the client is connected; false when it ended first or took too long.
    bool Connected() const;
    // True once the client is frozen in the server's call, waiting at most `waitMs`.
    bool Frozen(DWORD waitMs = 30000) const;
    bool Running() const;
    void Kill() const;

private:
    std::wstring m_events;
    UniqueHandle m_ready;
    UniqueHandle m_noticed;
    UniqueHandle m_process;
};

// The running server's process id, found through its main window; 0 when there is none.
DWORD ServerProcessId();

// Ends the running server through its main window, as a user would, so that the next
// activation starts a new one; true when none runs afterwards. For a test that left the server
// in doubt.
bool CloseServer();

// Ends the Viewer through its main window, as its user would; true when it has gone.
bool CloseViewer();
// Starts the project's Viewer again; true once its window is up.
bool StartViewer();
