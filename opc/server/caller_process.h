#pragma once
#include <windows.h>

// The process of the client whose IClassFactory::CreateInstance the main thread is running, so
// that the server object it makes can be reclaimed once that process has gone (Wine runs no
// DCOM ping that would release a dead client's objects). The class factory's calls are watched
// through a stub that wraps COM's own: it reads the calling process from the RPC connection
// the call came in on.

// Routes the stubs of IClassFactory through the watching stub; before the class object is
// registered, on the main thread. Without it every caller is unknown.
void WatchClassFactoryCallers();
// Undoes WatchClassFactoryCallers before COM ends.
void StopWatchingClassFactoryCallers();
// The calling client's process id while the main thread runs a CreateInstance that came from
// another process; 0 otherwise (an in-process caller, or a connection that does not tell).
DWORD ClassFactoryCallerProcessId();
