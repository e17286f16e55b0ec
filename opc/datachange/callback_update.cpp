#include "opc/datachange/callback_update.h"

#include <memory>
#include <new>
#include <vector>

#include "opc/datachange/callback_requests.h"
#include "opc/datachange/data_callback.h"
#include "opc/datachange/delivery_group.h"
#include "opc/items/item_object.h"

namespace {

using CallPointer = std::unique_ptr<DataCallbackCall>;

// The request's items read from its source (still in the table: removal takes them out).
bool ReadRequestItems(const DeliveryGroup& group, const CallbackRequest& request,
                      std::vector<CallbackItem>& items)
{
    const ItemTable& table = group.Items();
    try {
        items.reserve(request.items.size());
        for (OPCHANDLE handle : request.items) {
            items.push_back(ReadCallbackItem(*table.Find(handle), request.source));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool WriteResults(const DeliveryGroup& group, const CallbackRequest& request,
                  std::vector<CallbackItem>& items)
{
    const ItemTable& table = group.Items();
    try {
        items.resize(request.items.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].hServer = request.items[i];
        items[i].hClient = table.Find(request.items[i])->ClientHandle();
        items[i].error = request.writeResults[i];
    }
    return true;
}

CallPointer BuildCompletion(const DeliveryGroup& group, const CallbackRequest& request)
{
    DataCallbackKind kind = DataCallbackKind::CancelComplete;
    std::vector<CallbackItem> items;
    if (!request.cancelled) {
        switch (request.kind) {
        case CallbackRequestKind::Read:
            kind = DataCallbackKind::ReadComplete;
            if (!ReadRequestItems(group, request, items)) return nullptr;
            break;
        case CallbackRequestKind::Refresh:
            kind = DataCallbackKind::DataChange;
            if (!ReadRequestItems(group, request, items)) return nullptr;
            break;
        case CallbackRequestKind::Write:
            kind = DataCallbackKind::WriteComplete;
            if (!WriteResults(group, request, items)) return nullptr;
            break;
        }
    }
    return CallPointer(new (std::nothrow) DataCallbackCall(kind, request.transactionId,
                                                           group.ClientHandle(), std::move(items)));
}

}  // namespace

void SendCallbackDataChange(DeliveryGroup& group)
{
    DataCallback& callback = group.Callback();
    if (!group.IsActive() || !callback.enabled || !callback.Connected()) return;
    std::vector<CallbackItem> items;
    try {
        group.Items().ForEach([&items](const ItemObject& item) {
            if (item.Active() && (item.ChangeMask() & kOwedToDataCallback)) {
                items.push_back(ReadCallbackItem(item, OPC_DS_CACHE));
            }
        });
    } catch (const std::bad_alloc&) {
        return;  // the bits stay: the items go with the next period
    }
    if (items.empty()) return;
    CallPointer call(new (std::nothrow) DataCallbackCall(DataCallbackKind::DataChange, 0,
                                                         group.ClientHandle(), std::move(items)));
    if (!call) return;
    ItemTable& table = group.Items();
    for (const CallbackItem& item : call->Items()) {
        table.Find(item.hServer)->ClearChangeBits(kOwedToDataCallback);
    }
    callback.Deliver(std::move(call));
}

void CompleteCallbackRequests(DeliveryGroup& group)
{
    CallbackRequests& requests = group.CallbackQueue();
    std::vector<CallPointer> calls;
    while (const CallbackRequest* request = requests.Oldest()) {
        CallPointer call = BuildCompletion(group, *request);
        if (!call) break;
        try {
            calls.push_back(std::move(call));
        } catch (const std::bad_alloc&) {
            break;
        }
        requests.DropOldest();
    }
    for (CallPointer& call : calls) group.Callback().Deliver(std::move(call));
}
