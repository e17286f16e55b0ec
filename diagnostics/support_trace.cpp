#include "diagnostics/support_trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <string>

std::atomic<bool> g_supportTraceOn{false};

namespace {

constexpr wchar_t kSettingsKey[] = L"Software\\Parhelionix\\OPC Server";
constexpr wchar_t kSwitchValue[] = L"SupportTrace";
constexpr wchar_t kFileName[] = L"OPCServer-trace.log";
constexpr wchar_t kCommandLineSwitch[] = L"/trace";

struct FileCloser {
    void operator()(HANDLE file) const { CloseHandle(file); }
};
using TraceFile = std::unique_ptr<void, FileCloser>;

// The open trace, shared by every thread that traces (the main thread and delivery threads).
struct Trace {
    std::mutex lock;
    TraceFile file;
    std::wstring path;
    uint64_t size = 0;
};

Trace& OpenTrace()
{
    // Never destroyed: a delivery thread may still trace while the process ends.
    static Trace* const trace = new Trace;
    return *trace;
}

TraceFile OpenForAppending(const std::wstring& path, uint64_t& size)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER length{};
    GetFileSizeEx(file, &length);
    size = static_cast<uint64_t>(length.QuadPart);
    return TraceFile(file);
}

std::string Utf8(const wchar_t* text)
{
    if (!text || !*text) return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string converted(static_cast<size_t>(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, converted.data(), length, nullptr, nullptr);
    return converted;
}

}  // namespace

std::wstring SupportTracePath()
{
    wchar_t folder[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    if (length == 0 || length > MAX_PATH) return kFileName;
    return std::wstring(folder) + kFileName;
}

std::wstring OlderSupportTracePath(const std::wstring& path)
{
    const size_t dot = path.rfind(L'.');
    const size_t slash = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) {
        return path + L".old";
    }
    return path.substr(0, dot) + L".old" + path.substr(dot);
}

bool SupportTraceWanted(const wchar_t* commandLine)
{
    if (commandLine) {
        // The switch stands alone: "/trace" followed by a blank or the end.
        for (const wchar_t* found = std::wcsstr(commandLine, kCommandLineSwitch); found;
             found = std::wcsstr(found + 1, kCommandLineSwitch)) {
            const wchar_t after = found[std::wcslen(kCommandLineSwitch)];
            if (after == L'\0' || after == L' ' || after == L'\t') return true;
        }
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, kSwitchValue, RRF_RT_REG_DWORD, nullptr,
                        &value, &size) == ERROR_SUCCESS &&
           value != 0;
}

bool StartSupportTrace(const wchar_t* path)
{
    Trace& trace = OpenTrace();
    std::lock_guard<std::mutex> guard(trace.lock);
    try {
        trace.path = path ? path : SupportTracePath();
    } catch (const std::bad_alloc&) {
        return false;
    }
    trace.file = OpenForAppending(trace.path, trace.size);
    g_supportTraceOn = trace.file != nullptr;
    return g_supportTraceOn;
}

void StopSupportTrace()
{
    Trace& trace = OpenTrace();
    std::lock_guard<std::mutex> guard(trace.lock);
    g_supportTraceOn = false;
    trace.file.reset();
}

void WriteSupportTraceLine(const TraceClient& client, HRESULT hr, const char* what, ...)
{
    char text[512];
    va_list arguments;
    va_start(arguments, what);
    std::vsnprintf(text, sizeof text, what, arguments);
    va_end(arguments);
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[1024];
    const std::string name = Utf8(client.name);
    const int length = std::snprintf(
        line, sizeof line,
        "%04u-%02u-%02u %02u:%02u:%02u.%03u thread %lu client %lu \"%s\" %s hr=0x%08lX\r\n",
        now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
        GetCurrentThreadId(), client.processId, name.c_str(), text,
        static_cast<unsigned long>(hr));
    if (length <= 0) return;
    const DWORD bytes = static_cast<DWORD>(std::min<size_t>(static_cast<size_t>(length),
                                                            sizeof line - 1));
    Trace& trace = OpenTrace();
    std::lock_guard<std::mutex> guard(trace.lock);
    if (!trace.file) return;
    if (trace.size + bytes > kSupportTraceCap) {
        // One older file is kept; the current one starts anew.
        trace.file.reset();
        MoveFileExW(trace.path.c_str(), OlderSupportTracePath(trace.path).c_str(),
                    MOVEFILE_REPLACE_EXISTING);
        trace.file = OpenForAppending(trace.path, trace.size);
        if (!trace.file) {
            g_supportTraceOn = false;
            return;
        }
    }
    DWORD written = 0;
    if (WriteFile(trace.file.get(), line, bytes, &written, nullptr)) trace.size += written;
}
