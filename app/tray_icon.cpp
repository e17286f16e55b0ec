#include "app/tray_icon.h"

#include <cstring>

#include "app/main_frame.h"

NOTIFYICONDATAA TrayIconRecord(HWND window, HICON icon)
{
    NOTIFYICONDATAA record{};
    // The original record without the later fields: 88 bytes in a 32-bit build.
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = window;
    record.uID = kTrayIconId;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = WM_TRAYNOTIFY;
    record.hIcon = icon;
    strcpy(record.szTip, "Parhelionix OPCServer Application");
    return record;
}
