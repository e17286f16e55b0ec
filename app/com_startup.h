#pragma once
#include <windows.h>

// g_comStarted and g_registrationCookie: the COM server's start flag and class registration.
#include "opc/server/com_server_lifetime.h"

// Starts COM for the main thread, registers the server's class object and lets every poll cycle
// end with the update of all servers while clients hold the server. Start-up goes on whatever
// the outcome.
void StartCom();
// Revokes the registration and ends COM for the main thread.
void StopCom();
