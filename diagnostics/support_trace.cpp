#include "diagnostics/support_trace.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
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

// A line is at most this long; the text of an event that does not fit is cut.
constexpr size_t kLineCapacity = 1536;

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
    // Lines left out since the file last took one (it could not be rotated or opened), and
    // when the first of them was.
    uint64_t lost = 0;
    SYSTEMTIME lostSince{};
};

Trace& OpenTrace()
{
    // Never destroyed: a delivery thread may still trace while the process ends.
    static Trace* const trace = new Trace;
    return *trace;
}

// A line put together in a fixed buffer, without touching the heap (the exit watchdog writes
// one while the main thread may hang anywhere): what does not fit is left out, and the line's
// end always fits.
class LineText {
public:
    void Append(const char* text, size_t length)
    {
        const size_t room = kRoomForText - std::min(m_length, kRoomForText);
        length = std::min(length, room);
        std::memcpy(m_text + m_length, text, length);
        m_length += length;
    }
    void Append(const char* text) { Append(text, std::strlen(text)); }
    // `codePoint` as UTF-8, or escaped when it is a control character, a line separator or,
    // inside quotes, a quote or backslash.
    void AppendCharacter(char32_t codePoint, bool quoted)
    {
        char encoded[8];
        int length = 0;
        if (codePoint == U'\r' || codePoint == U'\n' || codePoint == U'\t') {
            length = std::snprintf(encoded, sizeof encoded, "\\%c",
                                   codePoint == U'\r' ? 'r' : codePoint == U'\n' ? 'n' : 't');
        } else if (quoted && (codePoint == U'"' || codePoint == U'\\')) {
            length = std::snprintf(encoded, sizeof encoded, "\\%c", static_cast<char>(codePoint));
        } else if (codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F)) {
            length = std::snprintf(encoded, sizeof encoded, "\\x%02X",
                                   static_cast<unsigned>(codePoint));
        } else if (codePoint == 0x2028 || codePoint == 0x2029) {
            length = std::snprintf(encoded, sizeof encoded, "\\u%04X",
                                   static_cast<unsigned>(codePoint));
        } else {
            length = EncodeUtf8(codePoint, encoded);
        }
        Append(encoded, static_cast<size_t>(length));
    }
    // Ends the line with the call's result; always fits.
    void End(HRESULT hr)
    {
        m_length += static_cast<size_t>(std::snprintf(m_text + m_length, kLineCapacity - m_length,
                                                      " hr=0x%08lX\r\n",
                                                      static_cast<unsigned long>(hr)));
    }
    const char* Text() const { return m_text; }
    DWORD Bytes() const { return static_cast<DWORD>(m_length); }

private:
    // Room kept for the end: " hr=0x12345678\r\n" and its NUL.
    static constexpr size_t kRoomForText = kLineCapacity - 20;

    static int EncodeUtf8(char32_t codePoint, char* out)
    {
        if (codePoint < 0x80) {
            out[0] = static_cast<char>(codePoint);
            return 1;
        }
        if (codePoint < 0x800) {
            out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
            out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
            return 2;
        }
        if (codePoint < 0x10000) {
            out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
            out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
            return 3;
        }
        out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
        out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
        return 4;
    }

    char m_text[kLineCapacity];
    size_t m_length = 0;
};

// The client's name, escaped and cut to kTracedNameLimit units (never between the two halves
// of a surrogate pair); a lone half becomes U+FFFD.
void AppendClientName(LineText& line, const wchar_t* name)
{
    if (!name) return;
    size_t used = 0;
    for (; name[used] && used < kTracedNameLimit; ++used) {
        char32_t codePoint = static_cast<char16_t>(name[used]);
        if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
            const char32_t low = static_cast<char16_t>(name[used + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                if (used + 2 > kTracedNameLimit) break;
                codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
                ++used;
            } else {
                codePoint = 0xFFFD;
            }
        } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
            codePoint = 0xFFFD;
        }
        line.AppendCharacter(codePoint, true);
    }
    if (name[used]) line.Append("...");
}

// "2026-12-08 12:00:00.123 thread 1234 client 5678 "name" what hr=0x80004005\r\n"; `what` is
// UTF-8 whose control characters are escaped.
void FormatLine(LineText& line, const TraceClient& client, HRESULT hr, const char* what)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char prefix[96];
    const int length = std::snprintf(
        prefix, sizeof prefix, "%04u-%02u-%02u %02u:%02u:%02u.%03u thread %lu client %lu \"",
        now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
        GetCurrentThreadId(), client.processId);
    line.Append(prefix, static_cast<size_t>(std::max(length, 0)));
    AppendClientName(line, client.name);
    line.Append("\" ");
    for (const char* byte = what; *byte; ++byte) {
        const auto unit = static_cast<unsigned char>(*byte);
        if (unit < 0x20 || unit == 0x7F) {
            line.AppendCharacter(unit, false);
        } else {
            line.Append(byte, 1);
        }
    }
    line.End(hr);
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

uint64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &attributes)) return 0;
    return (uint64_t{attributes.nFileSizeHigh} << 32) | attributes.nFileSizeLow;
}

// The file past its cap becomes the older one. A holder that does not share deletion (an
// editor, a virus scanner) keeps it from being renamed: it is then copied and emptied in place,
// which every holder allows, since each shares writing with the trace's own handle.
void Rotate(const std::wstring& path)
{
    const std::wstring older = OlderSupportTracePath(path);
    if (MoveFileExW(path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING)) return;
    if (!CopyFileW(path.c_str(), older.c_str(), FALSE)) return;
    const TraceFile file(CreateFileW(path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() != INVALID_HANDLE_VALUE) SetEndOfFile(file.get());
}

// True when the open file takes `bytes` more within its cap: past it, the file is rotated and
// opened anew. False when it could not be; the file stays open if it could be opened at all.
bool MakeRoom(Trace& trace, uint64_t bytes)
{
    if (trace.file && trace.size + bytes <= kSupportTraceCap) return true;
    // Let go first: a rename or copy must not find the file held by this process too.
    trace.file.reset();
    if (FileSize(trace.path) + bytes > kSupportTraceCap) Rotate(trace.path);
    trace.file = OpenForAppending(trace.path, trace.size);
    return trace.file && trace.size + bytes <= kSupportTraceCap;
}

void Write(Trace& trace, const LineText& line)
{
    DWORD written = 0;
    if (WriteFile(trace.file.get(), line.Text(), line.Bytes(), &written, nullptr)) {
        trace.size += written;
    }
}

// Writes `line`, under the trace's lock. A file that cannot take it gets, once, a last line
// that says the trace stops; the lines left out are counted and told in the next one written.
void WriteLocked(Trace& trace, const LineText& line)
{
    // Room for the line and a note before it.
    if (!MakeRoom(trace, 2 * kLineCapacity)) {
        if (trace.lost++ != 0) return;
        GetLocalTime(&trace.lostSince);
        if (!trace.file) return;
        LineText stopped;
        FormatLine(stopped, TraceClient{}, S_OK,
                   "trace stopped: the file is at its cap and cannot be rotated while another "
                   "program holds it; the lines left out are counted until it can be");
        Write(trace, stopped);
        return;
    }
    if (trace.lost != 0) {
        char note[160];
        std::snprintf(note, sizeof note,
                      "trace resumed: %llu lines left out since %02u:%02u:%02u, when the file "
                      "could not be rotated or opened",
                      static_cast<unsigned long long>(trace.lost), trace.lostSince.wHour,
                      trace.lostSince.wMinute, trace.lostSince.wSecond);
        LineText resumed;
        FormatLine(resumed, TraceClient{}, S_OK, note);
        Write(trace, resumed);
        trace.lost = 0;
    }
    Write(trace, line);
}

void WriteFormatted(bool mayWait, const TraceClient& client, HRESULT hr, const char* what,
                    va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, what, arguments);
    LineText line;
    FormatLine(line, client, hr, text);
    Trace& trace = OpenTrace();
    std::unique_lock<std::mutex> guard(trace.lock, std::defer_lock);
    if (mayWait) {
        guard.lock();
    } else if (!guard.try_lock()) {
        return;
    }
    if (g_supportTraceOn.load(std::memory_order_relaxed)) WriteLocked(trace, line);
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
    return ReadProductSetting(kSwitchValue, value) && value != 0;
}

bool ReadProductSetting(const wchar_t* name, DWORD& value)
{
    DWORD read = 0;
    DWORD size = sizeof read;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &read,
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    value = read;
    return true;
}

HANDLE OpenSupportTraceForReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    trace.lost = 0;
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
    va_list arguments;
    va_start(arguments, what);
    WriteFormatted(true, client, hr, what, arguments);
    va_end(arguments);
}

void WriteSupportTraceLineUnlessBusy(const TraceClient& client, HRESULT hr, const char* what, ...)
{
    va_list arguments;
    va_start(arguments, what);
    WriteFormatted(false, client, hr, what, arguments);
    va_end(arguments);
}
