#pragma once
#include <cstddef>
#include <string>

// Texts of the project files and the shared tag area are ANSI (the system code page, 936 in
// the package's setting); the log and the monitor speak UTF-8 or UTF-16 to the outside.
std::wstring WideFromAnsi(const std::string& text);
std::string AnsiFromWide(const std::wstring& text);
std::string Utf8FromWide(const std::wstring& text);
std::string Utf8FromAnsi(const std::string& text);

// Copies text into a fixed field of width bytes, NUL-terminated. A text that does not fit is
// cut at a character boundary, so that no double-byte character loses its trail byte.
void CopyAnsiField(char* field, size_t width, const std::string& text);

// The text of a fixed field: up to its first NUL, never past its width.
std::string AnsiFieldText(const char* field, size_t width);
