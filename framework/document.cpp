#include "framework/document.h"

#include <windows.h>

BOOL CDocument::OnNewDocument()
{
    return TRUE;
}

BOOL CDocument::OnOpenDocument(const char* path)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    CloseHandle(file);
    return TRUE;
}
