#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Texts of the Viewer, the shared tag area and the project files are ANSI (the system code
// page, 936 on the package's machines); the OPC side works in UTF-16, the Viewer stand-in's log
// and monitor in UTF-8. All conversions of the server and the Viewer stand-in go through here.

std::string AnsiFromWide(std::wstring_view text);
std::wstring WideFromAnsi(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);
std::string Utf8FromAnsi(std::string_view text);

// Converts a NUL-terminated ANSI field of fieldBytes bytes (a missing terminator ends it at
// the field's end, and no field is read past 256 bytes) into out, keeping at most outUnits - 1 units and always terminating.
void AnsiFieldToWide(const char* field, size_t fieldBytes, wchar_t* out, size_t outUnits);

// Converts at most maxUnits units of text (fewer when it ends sooner) into an ANSI field of
// fieldBytes bytes, cut after the last whole character that fits before the terminator.
void WideToAnsiField(const wchar_t* text, size_t maxUnits, char* field, size_t fieldBytes);

// Copies text into a fixed field of width bytes, NUL-terminated and zero-filled. A text that
// does not fit is cut at a character boundary, so that no double-byte character loses its
// trail byte.
void CopyAnsiField(char* field, size_t width, const std::string& text);

// The text of a fixed field: up to its first NUL, never past its width.
std::string AnsiFieldText(const char* field, size_t width);
