#pragma once
#include <string>

// One line of UTF-16 text on standard output or standard error: through the console when
// there is one, else as UTF-8 bytes (a pipe or a file), so that Chinese names stay readable.
void PrintLine(const std::wstring& text);
void PrintErrorLine(const std::wstring& text);
