#include "app/com_startup.h"

bool g_comStarted = false;
DWORD g_registrationCookie = 0;

void StartCom() { g_comStarted = true; }

void StopCom() { g_registrationCookie = 0; }
