#pragma once
// The support trace: one line for each event a field report needs answered (a client connected,
// released or reclaimed, a sink found gone, a call refused and why, deliveries coalesced, the
// Viewer lost and back, a slow poll cycle, the exit), written to a file that a support engineer
// asks for. Off by default: it is switched on by the registry value SupportTrace (DWORD, not 0)
// under HKEY_CURRENT_USER\Software\Parhelionix\OPC Server, or for one run by the command-line
// switch /trace. The file is "OPCServer-trace.log" in the user's temporary folder; past
// kSupportTraceCap bytes it becomes "OPCServer-trace.old.log" (one older file is kept) and a new
// one starts, also while another program holds it open: renamed when the holder lets it be,
// otherwise copied and emptied in place. When neither can be done (or the file cannot be opened
// again), the trace says so in a last line and counts what it leaves out; the next line it can
// write says how many were lost. While off, a trace point costs one test of a flag.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

constexpr uint64_t kSupportTraceCap = uint64_t{4} << 20;
// How much of a client's name a line carries, in UTF-16 units; a longer one is cut, with "...".
constexpr size_t kTracedNameLimit = 64;

extern std::atomic<bool> g_supportTraceOn;

// Who an event concerns: the client's process (0: none or unknown) and the name it gave itself
// (IOPCCommon::SetClientName; null or empty: none). The name is the client's text: a line
// carries it escaped (CR, LF, tab, quote, backslash and every other control character as
// \r, \n, \t, \", \\, \xHH) and cut to kTracedNameLimit, so that no client can forge or glue
// lines.
struct TraceClient {
    DWORD processId = 0;
    const wchar_t* name = nullptr;
};

// The DWORD setting `name` under HKEY_CURRENT_USER\Software\Parhelionix\OPC Server, the key
// that holds SupportTrace; false, and `value` untouched, when it is not set as a DWORD.
bool ReadProductSetting(const wchar_t* name, DWORD& value);
// Whether the registry value or `commandLine` (the program's, as GetCommandLineW gives it) asks
// for the trace.
bool SupportTraceWanted(const wchar_t* commandLine);
// Opens the trace file (appending) and switches the trace on; false, and off, when it cannot be
// opened. `path` null: the file in the user's temporary folder.
bool StartSupportTrace(const wchar_t* path = nullptr);
// Writes what is buffered and switches the trace off.
void StopSupportTrace();
// The trace file of StartSupportTrace(nullptr), and the older one.
std::wstring SupportTracePath();
std::wstring OlderSupportTracePath(const std::wstring& path);
// Opens a trace file for reading the way a reader must, so that the server can still rotate it:
// sharing reading, writing and deletion. INVALID_HANDLE_VALUE when it cannot be opened.
HANDLE OpenSupportTraceForReading(const std::wstring& path);

// One line: "2026-12-08 12:00:00.123 thread 1234 client 5678 "name" what... hr=0x80004005".
// `what` is printf-formatted UTF-8 text; a control character formatted into it is escaped as in
// the name. Call through SUPPORT_TRACE.
void WriteSupportTraceLine(const TraceClient& client, HRESULT hr, const char* what, ...)
    __attribute__((format(printf, 3, 4)));
// The same for a thread that must never wait on another (the exit watchdog, which ends a
// process whose main thread may hang in the trace): the line is left out while another thread
// writes one. Call through SUPPORT_TRACE_UNLESS_BUSY.
void WriteSupportTraceLineUnlessBusy(const TraceClient& client, HRESULT hr, const char* what, ...)
    __attribute__((format(printf, 3, 4)));

#define SUPPORT_TRACE(client, hr, ...)                                                          \
    do {                                                                                       \
        if (g_supportTraceOn.load(std::memory_order_relaxed))                                   \
            WriteSupportTraceLine((client), (hr), __VA_ARGS__);                                 \
    } while (0)

#define SUPPORT_TRACE_UNLESS_BUSY(client, hr, ...)                                              \
    do {                                                                                       \
        if (g_supportTraceOn.load(std::memory_order_relaxed))                                   \
            WriteSupportTraceLineUnlessBusy((client), (hr), __VA_ARGS__);                       \
    } while (0)
