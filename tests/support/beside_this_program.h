// The path of a file in the folder of the running test program, where the build puts the
// programs and DLLs it is built beside.
#pragma once

#include <windows.h>

#include <string>

inline std::wstring BesideThisProgram(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, length);
    return full.substr(0, full.find_last_of(L"\\/") + 1) + fileName;
}
