#include "runtime_link/ansi_text.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

std::wstring WideFrom(UINT codePage, std::string_view text)
{
    if (text.empty()) return {};
    const int units =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        units);
    return wide;
}

std::string BytesFrom(UINT codePage, std::wstring_view text)
{
    if (text.empty()) return {};
    const int bytes = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                        bytes, nullptr, nullptr);
    return narrow;
}

// Every ANSI code page keeps 0x00-0x7F as ASCII, and most tag strings are ASCII: those are
// widened or narrowed unit by unit, many times faster than a trip through the code page.
bool WidenAscii(const char* text, size_t length, wchar_t* out)
{
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) return false;
        out[i] = static_cast<wchar_t>(byte);
    }
    return true;
}

// ASCII text goes straight into the field, cut to fit (a byte a unit, so no character can be
// split). False when the text holds other characters; the bytes written by then are the ones
// the full conversion writes there too.
bool NarrowAsciiIntoField(const wchar_t* text, size_t maxUnits, char* field, size_t fieldBytes)
{
    size_t i = 0;
    for (; i < maxUnits && i + 1 < fieldBytes && text[i] != 0; ++i) {
        if (text[i] >= 0x80) return false;
        field[i] = static_cast<char>(text[i]);
    }
    field[i] = '\0';
    return true;
}

}  // namespace

std::string AnsiFromWide(std::wstring_view text)
{
    return BytesFrom(CP_ACP, text);
}

std::wstring WideFromAnsi(std::string_view text)
{
    return WideFrom(CP_ACP, text);
}

std::string Utf8FromWide(std::wstring_view text)
{
    return BytesFrom(CP_UTF8, text);
}

std::string Utf8FromAnsi(std::string_view text)
{
    return Utf8FromWide(WideFromAnsi(text));
}

void AnsiFieldToWide(const char* field, size_t fieldBytes, wchar_t* out, size_t outUnits)
{
    if (outUnits == 0) return;
    // Fields are small and fixed; converting on the stack keeps the poll cycle allocation-free.
    constexpr size_t kLongestField = 256;
    const size_t length = strnlen(field, fieldBytes < kLongestField ? fieldBytes : kLongestField);
    wchar_t wide[kLongestField];
    size_t kept = length;
    if (!WidenAscii(field, length, wide)) {
        const int units = MultiByteToWideChar(CP_ACP, 0, field, static_cast<int>(length), wide,
                                              static_cast<int>(kLongestField));
        kept = units > 0 ? static_cast<size_t>(units) : 0;
    }
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
    if (NarrowAsciiIntoField(text, maxUnits, field, fieldBytes)) return;
    const size_t units = wcsnlen(text, maxUnits);
    // No code page makes more than three bytes of one UTF-16 unit, so one call converts the
    // whole text; a field's text fits on the stack, which keeps the poll cycle's write-back
    // allocation-free.
    constexpr size_t kMostBytesPerUnit = 3;
    char onStack[512];
    std::string onHeap;
    char* ansi = onStack;
    size_t capacity = sizeof onStack;
    if (units * kMostBytesPerUnit > capacity) {
        onHeap.resize(units * kMostBytesPerUnit);
        ansi = onHeap.data();
        capacity = onHeap.size();
    }
    const int converted = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(units), ansi,
                                              static_cast<int>(capacity), nullptr, nullptr);
    const size_t bytes = converted > 0 ? static_cast<size_t>(converted) : 0;
    // Walk whole characters so that a double-byte character is never split.
    size_t kept = bytes;
    if (kept > fieldBytes - 1) {
        kept = 0;
        while (kept < bytes) {
            const size_t width = IsDBCSLeadByte(static_cast<BYTE>(ansi[kept])) ? 2 : 1;
            if (kept + width > fieldBytes - 1) break;
            kept += width;
        }
    }
    std::memcpy(field, ansi, kept);
    field[kept] = '\0';
}

void CopyAnsiField(char* field, size_t width, const std::string& text)
{
    if (width == 0) return;
    size_t length = 0;
    while (length < text.size()) {
        const size_t next = length + (IsDBCSLeadByte(static_cast<BYTE>(text[length])) ? 2 : 1);
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
