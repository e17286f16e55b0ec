#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

class ServerObject;

// Server objects handed out by the class factory and not yet destroyed.
extern LONG g_objectCount;
// Net number of IClassFactory::LockServer(TRUE) calls; it may go negative.
extern LONG g_lockCount;

// The server table: entry 0 is never used, entries 1..MaxClients serve one server object each.
// It holds as many entries as the highest one in use, and grows when a client needs one more.

// Empties the table; COM start-up runs it once.
void ClearServerTable();
// Takes the first free entry of 1..MaxClients for `server` and returns its index; 0 when all
// are taken (ServerTableFull) or there is no memory for one more.
int RegisterServer(ServerObject* server);
// Whether every entry the limit allows is in use.
bool ServerTableFull();
// Frees entry `index` if it is in use.
void UnregisterServer(int index);
// Frees the entry of `server`, if it holds one, so that it serves a new client at once.
void TakeOutOfServerTable(ServerObject& server);

// Every registered server object, uncounted, in table order. Throws std::bad_alloc.
std::vector<ServerObject*> ListServers();

// Runs the group update of every registered server object, in table order.
void UpdateAllServers(int32_t pollPeriodMs);
// True while a client holds a server object or the server is locked (a negative lock count too).
bool ServerInUse();
// The poll cycle's after-hook, only while the server is in use: the servers of ended clients
// reclaimed, then the update of all servers.
void UpdateAllServersIfInUse(int32_t pollPeriodMs);
