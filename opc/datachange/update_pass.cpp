// The group's part of every poll cycle: its update countdown, the refresh of its items from
// the tag mirror, its data-change streams and the completion of its asynchronous requests.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "opc/datachange/data_object.h"
#include "opc/datachange/group_streams.h"
#include "opc/group/group_object.h"
#include "opc/items/item_object.h"
#include "opc/values/tag_lookup.h"
#include "runtime_link/tag_mirror.h"

namespace {

void RefreshItems(const ItemTable& items)
{
    items.ForEach([](ItemObject& item) {
        if (!item.Active()) return;
        const int slot = g_tagNameIndex.Find(item.ItemId());
        if (slot == kNoTag || !g_tagMirror[slot]) return;
        item.RefreshFromMirrorEntry(*g_tagMirror[slot]);
    });
}

// The active items still owed to one sink, in ascending slot order, in one stream.
void SendDataChange(GroupObject& group, DataStreamFormat format, StreamSink sink, WORD changeBit)
{
    if (!group.state.active || !group.DataObject()->Sink(sink)) return;
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
void CompleteRead(GroupObject& group, PendingRequest& record)
{
    PendingRequest request;
    if (!TakeRequest(record, request)) return;
    StreamItemList list;
    if (!ReadStreamItems(group, request.items.get(), request.count, 0, list)) return;
    SendDataStream(group, DataStreamFormat::Data, list, 0, request.transactionId);
    SendDataStream(group, DataStreamFormat::DataTime, list, 0, request.transactionId);
}

void CompleteWrite(GroupObject& group, PendingRequest& record)
{
    PendingRequest request;
    if (!TakeRequest(record, request)) return;
    SendWriteCompleteStream(group, request.items.get(), request.count, request.transactionId);
}

}  // namespace

void GroupObject::RunUpdatePass(int32_t pollPeriodMs)
{
    m_updateCountdown -= pollPeriodMs;
    const bool expired = m_updateCountdown <= 0;
    if (expired) {
        RefreshItems(m_items);
        // The overshoot is dropped: the period restarts from this pass.
        m_updateCountdown = static_cast<int32_t>(std::min<DWORD>(state.updateRate, INT32_MAX));
    }
    const DataObjectPart* dataObject = DataObject();
    if (!dataObject) return;   // no client asked for IDataObject: nobody to send to
    if (expired && dataObject->HasDataSink()) {
        SendDataChange(*this, DataStreamFormat::DataTime, StreamSink::DataTime,
                       kOwedToDataTimeSink);
        SendDataChange(*this, DataStreamFormat::Data, StreamSink::Data, kOwedToDataSink);
    }
    // Completions go out on every pass, expired or not, active group or not.
    if (dataObject->HasDataSink()) {
        CompleteRead(*this, m_requests.refresh);
        CompleteRead(*this, m_requests.read);
    }
    if (dataObject->Sink(StreamSink::WriteComplete)) CompleteWrite(*this, m_requests.write);
}
