#pragma once
#include <windows.h>

// Polls until ready() holds or timeoutMs has passed; tells whether it holds. For waits on
// another process, which gives no event to wait on (a window appearing, a flag cleared).
template <typename Ready>
bool WaitUntil(Ready ready, int timeoutMs, int pollMs = 20)
{
    for (int waited = 0; !ready(); waited += pollMs) {
        if (waited >= timeoutMs) return false;
        Sleep(DWORD(pollMs));
    }
    return true;
}
