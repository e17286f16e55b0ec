#include "opc/server/ended_client_reclaim.h"

#include <objbase.h>
#include <wrl/client.h>

#include "opc/com/connection_point.h"
#include "opc/com/global_lock.h"
#include "opc/com/owned_enumerators.h"
#include "opc/datachange/dead_sink_report.h"
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

void Reclaim(ServerObject& server)
{
    // Disconnecting releases objects whose destruction calls the dead client's sinks: the
    // groups are held here until every disconnection is done.
    const GroupList list = server.Groups().List(OPC_ENUM_ALL);
    ComPtr<IUnknown> groups[kGroupSlots];
    for (ULONG i = 0; i < list.count; ++i) groups[i] = static_cast<IUnknown*>(list.groups[i]);
    // A connection point is an object of its own that holds its group or server.
    for (ULONG i = 0; i < list.count; ++i) {
        Disconnect(list.groups[i]->OutgoingConnection());
        Disconnect(groups[i].Get());
    }
    if (ConnectionPoint* point = server.OutgoingConnection()) Disconnect(point);
    Disconnect(static_cast<IUnknown*>(&server));
    GlobalLockScope lock;
    server.Groups().RemoveAll();
}

}  // namespace

void ReclaimServersOfEndedClients()
{
    ServerObject* taken[kServerTableEntries];
    int count = TakeServersOfEndedClients(taken);
    for (DWORD deliveryId : TakeDeadSinkReports()) {
        if (ServerObject* server = TakeUnwatchedServerOfDelivery(deliveryId)) {
            taken[count++] = server;
        }
    }
    for (int i = 0; i < count; ++i) {
        ComPtr<ServerObject> server;
        server.Attach(taken[i]);
        Reclaim(*server.Get());
    }
}
