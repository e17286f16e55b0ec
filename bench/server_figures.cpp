#include "bench/server_figures.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>

#include "app/window_classes.h"
#include "viewer/win_handles.h"

HANDLE OpenRunningServer()
{
    HWND window = FindWindowA(kServerWindowClass, nullptr);
    if (!window) return nullptr;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, processId);
}

namespace {

DWORD CountThreads(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    DWORD threads = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == processId) ++threads;
    }
    CloseHandle(snapshot);
    return threads;
}

// Committed private memory (heaps, stacks, private allocations): what GetProcessMemoryInfo calls
// PrivateUsage, which Wine does not report for another process.
SIZE_T CommittedPrivateBytes(HANDLE process)
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const BYTE* address = nullptr;
         VirtualQueryEx(process, address, &region, sizeof region) == sizeof region;
         address = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    }
    return total;
}

}  // namespace

bool ReadFigures(HANDLE process, ServerFigures& figures)
{
    if (WaitForSingleObject(process, 0) != WAIT_TIMEOUT) return false;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof memory) ||
        !GetProcessHandleCount(process, &figures.handles)) {
        return false;
    }
    figures.privateBytes = CommittedPrivateBytes(process);
    figures.workingSet = memory.WorkingSetSize;
    figures.threads = CountThreads(GetProcessId(process));
    return true;
}

SIZE_T ServerPrivateBytes()
{
    const UniqueHandle server(OpenRunningServer());
    ServerFigures figures;
    return server && ReadFigures(server.get(), figures) ? figures.privateBytes : 0;
}

std::string Describe(const ServerFigures& figures)
{
    // Wine answers no handle count for another process: shown as such, not as 0.
    const std::string handles =
        figures.handles ? std::to_string(figures.handles) + " handles" : "handles n/a";
    char text[160];
    std::snprintf(text, sizeof text, "private %7.2f MB, working set %7.2f MB, %s, %3lu threads",
                  figures.privateBytes / 1048576.0, figures.workingSet / 1048576.0, handles.c_str(),
                  static_cast<unsigned long>(figures.threads));
    return text;
}
