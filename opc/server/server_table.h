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
// Frees the entry of `server`, if it holds one, so that it serves a new client at once.
void TakeOutOfServerTable(ServerObject& server);

// Every registered server object, uncounted, in table order, into `servers`; returns how many.
int ListServers(ServerObject* servers[kServerTableEntries]);

// Runs the group update of every registered server object, in table order.
void UpdateAllServers(int32_t pollPeriodMs);
// True while a client holds a server object or the server is locked (a negative lock count too).
bool ServerInUse();
// The poll cycle's after-hook, only while the server is in use: the servers of ended clients
// reclaimed, then the update of all servers.
void UpdateAllServersIfInUse(int32_t pollPeriodMs);
