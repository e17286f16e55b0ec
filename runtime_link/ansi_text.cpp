#include "runtime_link/ansi_text.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

std::string AnsiFromWide(const wchar_t* text)
{
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string ansi(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), bytes, nullptr, nullptr);
    ansi.resize(static_cast<size_t>(bytes - 1));
    return ansi;
}

void AnsiFieldToWide(const char* field, size_t fieldBytes, wchar_t* out, size_t outUnits)
{
    if (outUnits == 0) return;
    // Fields are small and fixed; converting on the stack keeps the poll cycle allocation-free.
    constexpr size_t kLongestField = 256;
    const size_t length = strnlen(field, fieldBytes < kLongestField ? fieldBytes : kLongestField);
    wchar_t wide[kLongestField];
    const int units = length == 0 ? 0
                                  : MultiByteToWideChar(CP_ACP, 0, field, static_cast<int>(length),
                                                        wide, static_cast<int>(kLongestField));
    size_t kept = units > 0 ? static_cast<size_t>(units) : 0;
    if (kept > outUnits - 1) {
        kept = outUnits - 1;
        // Never keep the first half of a surrogate pair.
        if (kept > 0 && IS_HIGH_SURROGATE(wide[kept - 1])) --kept;
    }
    wmemcpy(out, wide, kept);
    out[kept] = L'\0';
}

void WideToAnsiField(const wchar_t* text, size_t maxUnits, char* field, size_t fieldBytes)
{
    if (fieldBytes == 0) return;
    const size_t units = wcsnlen(text, maxUnits);
    std::string ansi;
    if (units > 0) {
        const int bytes = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), nullptr,
                                              0, nullptr, nullptr);
        ansi.resize(bytes > 0 ? static_cast<size_t>(bytes) : 0);
        if (!ansi.empty())
            WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), ansi.data(), bytes,
                                nullptr, nullptr);
    }
    // Walk whole characters so that a double-byte character is never split.
    size_t kept = 0;
    while (kept < ansi.size()) {
        const size_t width = IsDBCSLeadByte(static_cast<BYTE>(ansi[kept])) ? 2 : 1;
        if (kept + width > fieldBytes - 1) break;
        kept += width;
    }
    std::memcpy(field, ansi.data(), kept);
    field[kept] = '\0';
}
