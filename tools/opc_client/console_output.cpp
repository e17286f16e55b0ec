#include "console_output.h"

#include <windows.h>

namespace {

void WriteLine(DWORD stream, std::wstring text)
{
    HANDLE output = GetStdHandle(stream);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
    text += L"\n";
    DWORD mode = 0, written = 0;
    if (GetConsoleMode(output, &mode)) {
        WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
    WriteFile(output, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

}  // namespace

void PrintLine(const std::wstring& text)
{
    WriteLine(STD_OUTPUT_HANDLE, text);
}

void PrintErrorLine(const std::wstring& text)
{
    WriteLine(STD_ERROR_HANDLE, text);
}
