// The group's part of every poll cycle: its update countdown, the refresh of its items from
// the tag mirror, its data-change streams and the completion of its asynchronous requests.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "opc/datachange/update_pass.h"

#include "opc/datachange/data_object.h"
#include "opc/datachange/delivery_group.h"
#include "opc/datachange/group_streams.h"
#include "opc/items/item_object.h"
#include "opc/values/tag_lookup.h"
#include "runtime_link/tag_mirror.h"

namespace {

void RefreshItems(const ItemTable& items)
{
    items.ForEach([](ItemObject& item) {
        if (!item.Active()) return;
        const int slot = FindTagOfItemId(item.ItemId());
        if (slot == kNoTag || !g_tagMirror[slot]) return;
        item.RefreshFromMirrorEntry(*g_tagMirror[slot]);
    });
}

// The active items still owed to one sink, in ascending slot order, in one stream.
void SendDataChange(DeliveryGroup& group, DataStreamFormat format, StreamSink sink,
                    WORD changeBit)
{
    if (!group.IsActive() || !group.DataObject()->Sink(sink)) return;
    std::unique_ptr<OPCHANDLE[]> handles(new (std::nothrow) OPCHANDLE[kItemSlots]);
    if (!handles) return;   // the bits stay: the items go with the next period
    DWORD count = 0;
    group.Items().ForEach([&](const ItemObject& item) {
        if (item.Active() && (item.ChangeMask() & changeBit)) {
            handles[count++] = item.ServerHandle();
        }
    });
    if (count == 0) return;
    StreamItemList list;
    if (!ReadStreamItems(group, handles.get(), count, changeBit, list)) return;
    SendDataStream(group, format, list, changeBit, 0);
}

// Takes the request out of its record before anything is sent: the client may queue the next
// one from within OnDataChange. True when it is to be delivered.
bool TakeRequest(PendingRequest& record, PendingRequest& taken)
{
    if (!record.InUse()) return false;
    const bool cancelled = record.cancelled != FALSE;
    taken.items = std::move(record.items);
    taken.count = record.count;
    taken.transactionId = record.transactionId;
    record.Reset();
    return !cancelled;
}

// A read or refresh: the data stream, then the data-with-time stream, with the items as they
// are now. Device and cache are the same mirror, so a device read is done at once.
void CompleteRead(DeliveryGroup& group, PendingRequest& record)
{
    PendingRequest request;
    if (!TakeRequest(record, request)) return;
    StreamItemList list;
    if (!ReadStreamItems(group, request.items.get(), request.count, 0, list)) return;
    SendDataStream(group, DataStreamFormat::Data, list, 0, request.transactionId);
    SendDataStream(group, DataStreamFormat::DataTime, list, 0, request.transactionId);
}

void CompleteWrite(DeliveryGroup& group, PendingRequest& record)
{
    PendingRequest request;
    if (!TakeRequest(record, request)) return;
    SendWriteCompleteStream(group, request.items.get(), request.count, request.transactionId);
}

}  // namespace

void RunUpdatePass(DeliveryGroup& group, int32_t pollPeriodMs)
{
    int32_t& countdown = group.UpdateCountdown();
    countdown -= pollPeriodMs;
    const bool expired = countdown <= 0;
    if (expired) {
        RefreshItems(group.Items());
        // The overshoot is dropped: the period restarts from this pass.
        countdown = static_cast<int32_t>(std::min<DWORD>(group.UpdateRate(), INT32_MAX));
    }
    const DataObjectPart* dataObject = group.DataObject();
    if (!dataObject) return;   // no client asked for IDataObject: nobody to send to
    if (expired && dataObject->HasDataSink()) {
        SendDataChange(group, DataStreamFormat::DataTime, StreamSink::DataTime,
                       kOwedToDataTimeSink);
        SendDataChange(group, DataStreamFormat::Data, StreamSink::Data, kOwedToDataSink);
    }
    // Completions go out on every pass, expired or not, active group or not.
    if (dataObject->HasDataSink()) {
        CompleteRead(group, group.Requests().refresh);
        CompleteRead(group, group.Requests().read);
    }
    if (dataObject->Sink(StreamSink::WriteComplete)) {
        CompleteWrite(group, group.Requests().write);
    }
}
