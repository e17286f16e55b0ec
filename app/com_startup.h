#pragma once
#include <windows.h>

// Set once start-up has started COM: only then does exit shut COM down and free the tag mirror.
extern bool g_comStarted;
// The class object's registration with COM; 0 while none is registered.
extern DWORD g_registrationCookie;

// Starts COM for the main thread and registers the server's class object. Start-up goes on
// whatever the outcome, so this only marks COM as started.
void StartCom();
// Revokes the registration and ends COM for the main thread.
void StopCom();
