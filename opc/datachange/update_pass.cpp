// The group's part of every poll cycle: its update countdown, the refresh of its items from
// the tag mirror, its data-change streams and the completion of its asynchronous requests.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "opc/datachange/update_pass.h"

#include "opc/datachange/callback_update.h"
#include "opc/datachange/data_object.h"
#include "opc/datachange/delivery_group.h"
#include "opc/datachange/group_streams.h"
#include "opc/items/item_object.h"
#include "opc/values/tag_lookup.h"
#include "runtime_link/tag_mirror.h"

namespace {

void RefreshItems(const ItemTable& items, const FILETIME& cycleTime)
{
    items.ForEach([&cycleTime](ItemObject& item) {
        if (!item.Active()) return;
        const int slot = FindTagOfItemId(item.ItemId());
        if (slot == kNoTag || !g_tagMirror[slot]) return;
        item.RefreshFromMirrorEntry(*g_tagMirror[slot], cycleTime);
    });
}

// The active items still owed to one sink, in ascending slot order, in one stream.
void SendDataChange(DeliveryGroup& group, DataStreamFormat format, StreamSink sink, WORD changeBit)
{
    if (!group.IsActive() || !group.DataObject()->Sink(sink)) return;
    std::unique_ptr<OPCHANDLE[]> handles(new (std::nothrow) OPCHANDLE[kItemSlots]);
    if (!handles) return;  // the bits stay: the items go with the next period
    DWORD count = 0;
    group.Items().ForEach([&](const ItemObject& item) {
        if (item.Active() && (item.ChangeMask() & changeBit)) {
            handles[count++] = item.ServerHandle();
        }
    });
    if (count == 0) return;
    StreamItemList list;
    PreparedStream stream;
    // When the block cannot be had the bits stay: the items go with the next period.
    if (!ReadStreamItems(group, handles.get(), count, changeBit, list) ||
        !PrepareDataStream(group, format, list, 0, stream) || !stream.sink) {
        return;
    }
    ItemTable& items = group.Items();
    for (OPCHANDLE handle : list.handles) items.Find(handle)->ClearChangeBits(changeBit);
    SendPreparedStream(group, std::move(stream));
}

// Whether a request waits in its record to be completed; a cancelled one is dropped unsent.
bool Outstanding(PendingRequest& record)
{
    if (!record.InUse()) return false;
    if (!record.cancelled) return true;
    record.Reset();
    return false;
}

// A read or refresh: the data stream, then the data-with-time stream, with the items as they
// are now. Device and cache are the same mirror, so a device read is done at once. The streams
// are built while the request still waits in its record, so that a request whose streams
// cannot be had yet stays for the next pass; it leaves the record before anything is sent, as
// the client may queue the next one from within OnDataChange.
void CompleteRead(DeliveryGroup& group, PendingRequest& record)
{
    if (!Outstanding(record)) return;
    StreamItemList list;
    PreparedStream data;
    PreparedStream dataTime;
    if (!ReadStreamItems(group, record.items.get(), record.count, 0, list) ||
        !PrepareDataStream(group, DataStreamFormat::Data, list, record.transactionId, data) ||
        !PrepareDataStream(group, DataStreamFormat::DataTime, list, record.transactionId,
                           dataTime)) {
        return;
    }
    record.Reset();
    SendPreparedStream(group, std::move(data));
    SendPreparedStream(group, std::move(dataTime));
}

void CompleteWrite(DeliveryGroup& group, PendingRequest& record)
{
    if (!Outstanding(record)) return;
    PreparedStream stream;
    if (!PrepareWriteCompleteStream(group, record.items.get(), record.count, record.transactionId,
                                    stream)) {
        return;
    }
    record.Reset();
    SendPreparedStream(group, std::move(stream));
}

}  // namespace

void RunUpdatePass(DeliveryGroup& group, int32_t pollPeriodMs, const FILETIME& cycleTime)
{
    int32_t& countdown = group.UpdateCountdown();
    countdown -= pollPeriodMs;
    const bool expired = countdown <= 0;
    if (expired) {
        RefreshItems(group.Items(), cycleTime);
        // The overshoot is dropped: the period restarts from this pass.
        countdown = static_cast<int32_t>(std::min<DWORD>(group.UpdateRate(), INT32_MAX));
    }
    // The data callback's part is apart from the streams': neither subscriber disturbs the
    // other.
    if (expired) SendCallbackDataChange(group);
    CompleteCallbackRequests(group);
    const DataObjectPart* dataObject = group.DataObject();
    if (!dataObject) return;  // no client asked for IDataObject: nobody to send to
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
