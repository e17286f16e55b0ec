#pragma once
#include <windows.h>

// Whether the notification area holds the server's icon (identifier 128) for that window.
// Asks by modifying nothing, so it works from any process.
bool TrayIconPresent(HWND window);
