#pragma once
#include <cstddef>
#include <string>

// Texts of the Viewer and the project files are ANSI (the system code page, 936 on the
// package's machines); the OPC side works in UTF-16. All conversions go through here.

std::string AnsiFromWide(const wchar_t* text);

// Converts a NUL-terminated ANSI field of fieldBytes bytes (a missing terminator ends it at
// the field's end, and no field is read past 256 bytes) into out, keeping at most outUnits - 1 units and always terminating.
void AnsiFieldToWide(const char* field, size_t fieldBytes, wchar_t* out, size_t outUnits);

// Converts at most maxUnits units of text (fewer when it ends sooner) into an ANSI field of
// fieldBytes bytes, cut after the last whole character that fits before the terminator.
void WideToAnsiField(const wchar_t* text, size_t maxUnits, char* field, size_t fieldBytes);
