#pragma once
#include <windows.h>

#include <cstdint>

class ServerObject;

constexpr int kServerTableEntries = 10;  // entry 0 is never used: at most 9 servers are served

// Server objects handed out by the class factory and not yet destroyed.
extern LONG g_objectCount;
// Net number of IClassFactory::LockServer(TRUE) calls; it may go negative.
extern LONG g_lockCount;

// Marks every entry free; COM start-up runs it once.
void ClearServerTable();
// Takes the first free entry of 1..9 for `server` and returns its index; 0 when all are taken.
int RegisterServer(ServerObject* server);
// Frees entry `index` if it is in use.
void UnregisterServer(int index);

// Runs the group update of every registered server object, in table order.
void UpdateAllServers(int32_t pollPeriodMs);
// True while a client holds a server object or the server is locked (a negative lock count too).
bool ServerInUse();
// The poll cycle's after-hook: the update of all servers, only while the server is in use.
void UpdateAllServersIfInUse(int32_t pollPeriodMs);
