#include "tests/app/tray_probe.h"

#include <shellapi.h>

bool TrayIconPresent(HWND window)
{
    NOTIFYICONDATAA probe{};
    probe.cbSize = NOTIFYICONDATAA_V1_SIZE;
    probe.hWnd = window;
    probe.uID = 128;
    return Shell_NotifyIconA(NIM_MODIFY, &probe);
}
