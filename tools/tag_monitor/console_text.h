#pragma once
#include <string>

// Writes UTF-16 text to standard output so that Chinese names arrive readable: through the
// console when there is one (it re-encodes for the terminal), else as UTF-8 bytes (a pipe or
// file on the Linux side).
void WriteOutput(const std::wstring& text);
