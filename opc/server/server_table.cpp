#include "opc/server/server_table.h"

#include "opc/server/ended_client_reclaim.h"
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

ServerEntry g_serverTable[kServerTableEntries];

}  // namespace

void ClearServerTable()
{
    for (ServerEntry& entry : g_serverTable) entry = ServerEntry{};
}

int RegisterServer(ServerObject* server)
{
    for (int index = 1; index < kServerTableEntries; ++index) {
        if (g_serverTable[index].inUse) continue;
        g_serverTable[index].server = server;
        g_serverTable[index].inUse = 1;
        return index;
    }
    return 0;
}

void UnregisterServer(int index)
{
    if (index <= 0 || index >= kServerTableEntries || !g_serverTable[index].inUse) return;
    g_serverTable[index] = ServerEntry{};
}

void TakeOutOfServerTable(ServerObject& server)
{
    UnregisterServer(server.ServerTableIndex());
    server.LeaveServerTable();
}

int ListServers(ServerObject* servers[kServerTableEntries])
{
    int count = 0;
    for (const ServerEntry& entry : g_serverTable) {
        if (entry.inUse && entry.server) servers[count++] = entry.server;
    }
    return count;
}

void UpdateAllServers(int32_t pollPeriodMs)
{
    // One time for the whole cycle: every value seen to change in it carries the same stamp.
    const FILETIME cycleTime = CurrentUtcTime();
    // Every group's pass sees the tags' changes of one look at the mirror.
    const TagChangeLook look;
    for (const ServerEntry& entry : g_serverTable) {
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
