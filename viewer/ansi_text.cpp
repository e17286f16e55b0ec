#include "viewer/ansi_text.h"

#include <windows.h>

#include <cstring>

namespace {

std::wstring WideFrom(UINT codePage, const std::string& text)
{
    if (text.empty()) return {};
    int units = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), wide.data(), units);
    return wide;
}

std::string BytesFrom(UINT codePage, const std::wstring& text)
{
    if (text.empty()) return {};
    int bytes = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0,
                                    nullptr, nullptr);
    std::string narrow(size_t(bytes), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), narrow.data(), bytes,
                        nullptr, nullptr);
    return narrow;
}

}  // namespace

std::wstring WideFromAnsi(const std::string& text) { return WideFrom(CP_ACP, text); }

std::string AnsiFromWide(const std::wstring& text) { return BytesFrom(CP_ACP, text); }

std::string Utf8FromWide(const std::wstring& text) { return BytesFrom(CP_UTF8, text); }

std::string Utf8FromAnsi(const std::string& text) { return Utf8FromWide(WideFromAnsi(text)); }

void CopyAnsiField(char* field, size_t width, const std::string& text)
{
    if (width == 0) return;
    size_t length = 0;
    while (length < text.size()) {
        size_t next = length + (IsDBCSLeadByte(BYTE(text[length])) ? 2 : 1);
        if (next > width - 1 || next > text.size()) break;
        length = next;
    }
    std::memset(field, 0, width);
    std::memcpy(field, text.data(), length);
}

std::string AnsiFieldText(const char* field, size_t width)
{
    return std::string(field, strnlen(field, width));
}
