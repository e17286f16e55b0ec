#include "console_text.h"

#include <windows.h>

#include "runtime_link/ansi_text.h"

void WriteOutput(const std::wstring& text)
{
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text.data(), DWORD(text.size()), &written, nullptr);
        return;
    }
    const std::string bytes = Utf8FromWide(text);
    WriteFile(output, bytes.data(), DWORD(bytes.size()), &written, nullptr);
}
