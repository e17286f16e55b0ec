#include "opc/server/server_table.h"

#include <memory>

#include "opc/datachange/data_object.h"
#include "opc/group/group_object.h"
#include "opc/server/ended_client_reclaim.h"
#include "opc/server/server_object.h"
#include "opc/values/item_value.h"
#include "opc/values/tag_changes.h"

LONG g_objectCount = 0;
LONG g_lockCount = 0;

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};

struct ServerEntry {
    LONG inUse;
    ServerObject* server;  // not counted: a server unregisters itself when it is destroyed
    // The process of the client that made the server; null when it is not known.
    std::unique_ptr<void, HandleCloser> clientProcess;
};

ServerEntry g_serverTable[kServerTableEntries];

// Frees the entry and returns its server, with a reference added for the caller.
ServerObject* TakeEntry(ServerEntry& entry)
{
    ServerObject* server = entry.server;
    server->AddRef();
    server->LeaveServerTable();
    entry = ServerEntry{};
    return server;
}

bool DeliversThrough(ServerObject& server, DWORD deliveryId)
{
    const GroupList list = server.Groups().List(OPC_ENUM_ALL);
    for (ULONG i = 0; i < list.count; ++i) {
        if (list.groups[i]->DeliveryId() == deliveryId) return true;
    }
    return false;
}

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

void SetServerClient(int index, DWORD processId)
{
    if (index <= 0 || index >= kServerTableEntries || !g_serverTable[index].inUse) return;
    // A process that cannot be opened (already gone, or not ours to watch) leaves the entry
    // unwatched, as an in-process client's is.
    HANDLE process = processId ? OpenProcess(SYNCHRONIZE, FALSE, processId) : nullptr;
    g_serverTable[index].clientProcess.reset(process);
}

int TakeServersOfEndedClients(ServerObject* taken[kServerTableEntries])
{
    int count = 0;
    for (ServerEntry& entry : g_serverTable) {
        if (!entry.inUse || !entry.clientProcess) continue;
        if (WaitForSingleObject(entry.clientProcess.get(), 0) != WAIT_OBJECT_0) continue;
        taken[count++] = TakeEntry(entry);
    }
    return count;
}

ServerObject* TakeUnwatchedServerOfDelivery(DWORD deliveryId)
{
    for (ServerEntry& entry : g_serverTable) {
        if (!entry.inUse || entry.clientProcess || !entry.server) continue;
        if (DeliversThrough(*entry.server, deliveryId)) return TakeEntry(entry);
    }
    return nullptr;
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
