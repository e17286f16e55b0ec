#include "opc/server/server_table.h"

#include <algorithm>
#include <new>

#include "opc/server/ended_client_reclaim.h"
#include "opc/server/server_capacity.h"
#include "opc/server/server_object.h"
#include "opc/values/item_value.h"
#include "opc/values/tag_changes.h"

LONG g_objectCount = 0;
LONG g_lockCount = 0;

namespace {

struct ServerEntry {
    LONG inUse;
    ServerObject* server;  // not counted: a server unregisters itself when it is destroyed
};

// Walked by index, never by iterator: a client called back during a walk may connect or
// release a server object, which grows or shortens the table.
std::vector<ServerEntry> g_serverTable;

// Entries 1..MaxClients; past them (a limit lowered while they were in use) none is taken.
size_t EntriesServed()
{
    return std::min(g_serverTable.size(),
                    static_cast<size_t>(CurrentServerCapacity().maxClients) + 1);
}

}  // namespace

void ClearServerTable()
{
    std::vector<ServerEntry>().swap(g_serverTable);
}

int RegisterServer(ServerObject* server)
{
    for (size_t index = 1; index < EntriesServed(); ++index) {
        if (g_serverTable[index].inUse) continue;
        g_serverTable[index] = ServerEntry{1, server};
        return static_cast<int>(index);
    }
    if (ServerTableFull()) return 0;
    try {
        if (g_serverTable.empty()) g_serverTable.push_back(ServerEntry{});  // entry 0
        g_serverTable.push_back(ServerEntry{1, server});
    } catch (const std::bad_alloc&) {
        return 0;
    }
    return static_cast<int>(g_serverTable.size() - 1);
}

bool ServerTableFull()
{
    for (size_t index = 1; index < EntriesServed(); ++index) {
        if (!g_serverTable[index].inUse) return false;
    }
    return g_serverTable.size() > static_cast<size_t>(CurrentServerCapacity().maxClients);
}

void UnregisterServer(int index)
{
    if (index <= 0 || static_cast<size_t>(index) >= g_serverTable.size() ||
        !g_serverTable[index].inUse) {
        return;
    }
    g_serverTable[index] = ServerEntry{};
    // The free entries at the end go, so that the table is as long as its highest entry in use.
    while (g_serverTable.size() > 1 && !g_serverTable.back().inUse) g_serverTable.pop_back();
}

void TakeOutOfServerTable(ServerObject& server)
{
    UnregisterServer(server.ServerTableIndex());
    server.LeaveServerTable();
}

std::vector<ServerObject*> ListServers()
{
    std::vector<ServerObject*> servers;
    for (const ServerEntry& entry : g_serverTable) {
        if (entry.inUse && entry.server) servers.push_back(entry.server);
    }
    return servers;
}

void UpdateAllServers(int32_t pollPeriodMs)
{
    // One time for the whole cycle: every value seen to change in it carries the same stamp.
    const FILETIME cycleTime = CurrentUtcTime();
    // Every group's pass sees the tags' changes of one look at the mirror.
    const TagChangeLook look;
    for (size_t index = 1; index < g_serverTable.size(); ++index) {
        const ServerEntry entry = g_serverTable[index];
        if (!entry.inUse || !entry.server) continue;
        // A client called back during the pass may release its server object; it lives to
        // the end of its groups' passes.
        ServerObject* server = entry.server;
        server->AddRef();
        server->UpdateGroups(pollPeriodMs, cycleTime);
        server->Release();
    }
}

bool ServerInUse()
{
    return g_objectCount != 0 || g_lockCount != 0;
}

void UpdateAllServersIfInUse(int32_t pollPeriodMs)
{
    if (!ServerInUse()) return;
    ReclaimServersOfEndedClients();
    UpdateAllServers(pollPeriodMs);
}
