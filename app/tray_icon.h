#pragma once
#include <windows.h>
#include <shellapi.h>

constexpr UINT kTrayIconId = 128;

// The notification-area record of the server's icon, built afresh for every call.
NOTIFYICONDATAA TrayIconRecord(HWND window, HICON icon);
