#pragma once
#include <windows.h>

// Taken with CoFileTimeNow when the class object is registered; reported as the start time.
extern FILETIME g_serverStartTime;
// Set by COM start-up, whatever its outcome, and cleared by COM shutdown: only then does exit
// shut COM down and free the tag mirror.
extern bool g_comStarted;
// The class object's registration with COM; 0 while none is registered.
extern DWORD g_registrationCookie;

// COM start-up, once, on the main thread: the global lock, COM as a single-threaded apartment,
// the keeper of the exported interfaces' RPC registration, the class object registered for CLSID_ParhelionixOPCServer (local server, multiple use), the
// task allocator, the start time and an empty server table. A failure leaves the program
// running without serving clients; in debug builds a registration failure is traced.
void StartComServer();
// COM shutdown: revokes the class object, releases the interface keeper, ends COM and deletes the global lock; does nothing
// unless g_comStarted is set. Server objects still held by clients are left to the process end.
void StopComServer();
