#pragma once
#include <windows.h>
#include <unknwn.h>

// The process of the client whose IClassFactory::CreateInstance the main thread is running, so
// that the server object it makes can be reclaimed once that process has gone (Wine runs no
// DCOM ping that would release a dead client's objects; on Windows COM's own rundown does, and
// none of this runs there). The class object's calls come in through a stub that wraps COM's
// own: it reads the calling process from the RPC connection the call came in on, through a
// record of Wine's own, and so only under the Wine versions whose record it knows.

// True for the Wine version strings (as wine_get_version gives them) whose record of a call in
// progress is known; false for every other version and for null (not Wine).
bool ChannelRecordLayoutKnown(const char* wineVersion);
// Makes the stub of `classObject` in this apartment a watching one, under a Wine version whose
// record is known; on the main thread, before the class object is registered. Every other
// stub and proxy of IClassFactory, in any apartment, stays COM's own.
void WatchClassFactoryCallers(IClassFactory* classObject);
// Lets go of the watching stub before COM ends.
void StopWatchingClassFactoryCallers();
// The calling client's process id while the main thread runs a CreateInstance that came from
// another process; 0 otherwise (an in-process caller, a connection that does not tell, or a
// platform whose record is not known).
DWORD ClassFactoryCallerProcessId();
