#pragma once
// What another process costs the machine, read from outside it: the figures a leak or a hang
// shows first (private bytes, working set, handles, threads).
#include <windows.h>

#include <string>

struct ServerFigures {
    SIZE_T privateBytes = 0;  // committed private memory
    SIZE_T workingSet = 0;
    DWORD handles = 0;
    DWORD threads = 0;
};

// The running OPCServer.exe, found through its main window; null when none runs.
HANDLE OpenRunningServer();

// False when the process can no longer be read (it has ended).
bool ReadFigures(HANDLE process, ServerFigures& figures);

// The running OPCServer.exe's committed private memory; 0 when none runs.
SIZE_T ServerPrivateBytes();

// "private 12.3 MB, working set 20.1 MB, 85 handles, 9 threads"
std::string Describe(const ServerFigures& figures);
