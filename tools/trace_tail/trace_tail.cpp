// trace_tail [--lines N] [<file>]: prints the last N lines (20 unless told) of the server's
// support trace, the current user's unless a file is named, as the UTF-8 it is written in. It
// holds the file open the way that lets the server rotate it meanwhile.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/support_trace.h"

int main()
{
    int count = 0;
    std::unique_ptr<wchar_t*, decltype(&LocalFree)> args(
        CommandLineToArgvW(GetCommandLineW(), &count), &LocalFree);
    size_t lines = 20;
    std::wstring path = SupportTracePath();
    for (int i = 1; args && i < count; ++i) {
        if (std::wcscmp(args.get()[i], L"--lines") == 0 && i + 1 < count) {
            lines = static_cast<size_t>(std::wcstoul(args.get()[++i], nullptr, 10));
        } else {
            path = args.get()[i];
        }
    }
    const HANDLE opened = OpenSupportTraceForReading(path);
    if (opened == INVALID_HANDLE_VALUE) {
        std::fwprintf(stderr, L"trace_tail: no trace at %ls (is the trace switched on?)\n",
                      path.c_str());
        return 1;
    }
    const std::unique_ptr<void, decltype(&CloseHandle)> file(opened, &CloseHandle);
    std::string text;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read != 0) {
        text.append(chunk, read);
    }
    std::istringstream stream(text);
    std::vector<std::string> tail;
    for (std::string line; std::getline(stream, line);) {
        tail.push_back(line);
        if (tail.size() > lines) tail.erase(tail.begin());
    }
    for (const std::string& line : tail) std::printf("%s\n", line.c_str());
    return 0;
}
