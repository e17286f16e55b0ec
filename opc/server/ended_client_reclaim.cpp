#include "opc/server/ended_client_reclaim.h"

#include <objbase.h>
#include <wrl/client.h>

#include <memory>
#include <vector>

#include "opc/com/connection_point.h"
#include "opc/com/global_lock.h"
#include "opc/com/owned_enumerators.h"
#include "opc/group/group_object.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"

using Microsoft::WRL::ComPtr;

namespace {

// Drops every reference the dead client holds on `object` through stubs: its enumerators' first,
// since they hold the object.
void Disconnect(IUnknown* object)
{
    DisconnectEnumeratorsOf(object);
    CoDisconnectObject(object, 0);
}

void Reclaim(ClientSession& session)
{
    // Disconnecting releases objects whose destruction releases others: everything is held
    // here until every disconnection is done.
    ComPtr<ServerObject> server(static_cast<ServerObject*>(session.owner));
    std::vector<ComPtr<GroupObject>> groups;
    try {
        groups.assign(session.Groups().begin(), session.Groups().end());
    } catch (const std::bad_alloc&) {
        // The server's own groups still go with its table below.
    }
    // Named before the entry is freed: the server object's end traces it as out of the table.
    const int entry = server ? server->ServerTableIndex() : 0;
    SUPPORT_TRACE((TraceClient{session.ClientProcessId(),
                               server ? server->ClientName().c_str() : nullptr}),
                  S_OK, "client's process ended: reclaiming its %s (entry %d) and %u groups",
                  server ? "server object" : "groups, server object already released", entry,
                  static_cast<unsigned>(groups.size()));
    if (server) TakeOutOfServerTable(*server.Get());
    // A connection point is an object of its own that holds its group or server.
    for (const ComPtr<GroupObject>& group : groups) {
        Disconnect(group->OutgoingConnection());
        Disconnect(static_cast<IUnknown*>(group.Get()));
    }
    if (!server) return;
    if (ConnectionPoint* point = server->OutgoingConnection()) Disconnect(point);
    Disconnect(static_cast<IUnknown*>(server.Get()));
    GlobalLockScope lock;
    server->Groups().RemoveAll();
}

}  // namespace

void ReclaimServersOfEndedClients()
{
    std::vector<std::shared_ptr<ClientSession>> sessions;
    if (!ClientSession::ListAll(sessions)) return;
    for (const std::shared_ptr<ClientSession>& session : sessions) {
        if (session->TakeClientEnded()) Reclaim(*session);
    }
}
