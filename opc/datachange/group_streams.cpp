#include "opc/datachange/group_streams.h"

#include <new>

#include "opc/datachange/delivery_group.h"
#include "opc/datachange/stream_write_complete.h"
#include "opc/items/item_object.h"

namespace {

StreamSink SinkOf(DataStreamFormat format)
{
    return format == DataStreamFormat::DataTime ? StreamSink::DataTime : StreamSink::Data;
}

unsigned SinkIdentity(const DeliveryGroup& group, StreamSink sink)
{
    const DataObjectPart* part = group.DataObject();
    return part ? part->SinkIdentity(sink) : 0;
}

}  // namespace

bool AddressDataStream(const DeliveryGroup& group, DataStreamFormat format, bool hasItems,
                       DWORD transactionId, PreparedStream& stream)
{
    stream.kind = SinkOf(format);
    stream.coalesces = transactionId == 0;  // requests' transactions are never 0
    stream.sink = SinkIdentity(group, stream.kind);
    if (!stream.sink || !hasItems) {
        stream.sink = 0;
        return false;
    }
    return true;
}

bool ReadStreamItems(const DeliveryGroup& group, const OPCHANDLE* handles, DWORD count,
                     WORD changeBit, StreamItemList& list)
{
    const bool outOfService =
        CompletionOutOfService(changeBit, group.IsActive(), group.Requests().read.source);
    const ItemTable& items = group.Items();
    try {
        list.handles.clear();
        list.items.clear();
        list.handles.reserve(count);
        list.items.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            // Lists hold only handles of items in the table: removal takes them out.
            const ItemObject* item = items.Find(handles[i]);
            if (!item) continue;
            list.items.push_back(ReadItemForStream(item->ReadSource(), item->ClientHandle(),
                                                   item->Timestamp(), outOfService));
            list.handles.push_back(handles[i]);
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool PrepareDataStream(const DeliveryGroup& group, DataStreamFormat format,
                       const StreamItemList& list, DWORD transactionId, PreparedStream& stream)
{
    if (!AddressDataStream(group, format, !list.items.empty(), transactionId, stream)) return true;
    stream.block = BuildDataStream(format, group.ClientHandle(), transactionId, list.items);
    return stream.block != nullptr;
}

bool PrepareDataStream(const DeliveryGroup& group, DataStreamFormat format,
                       const std::vector<StreamRecord>& records, DWORD transactionId,
                       PreparedStream& stream)
{
    if (!AddressDataStream(group, format, !records.empty(), transactionId, stream)) return true;
    stream.block = BuildDataStream(format, group.ClientHandle(), transactionId, records);
    return stream.block != nullptr;
}

bool PrepareWriteCompleteStream(const DeliveryGroup& group, const OPCHANDLE* handles, DWORD count,
                                DWORD transactionId, PreparedStream& stream)
{
    stream.kind = StreamSink::WriteComplete;
    stream.sink = SinkIdentity(group, stream.kind);
    if (!stream.sink) return true;
    std::vector<OPCITEMHEADERWRITE> results;
    const ItemTable& items = group.Items();
    try {
        results.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            const ItemObject* item = items.Find(handles[i]);
            if (!item) continue;
            // A write's result is ready as soon as it is made.
            results.push_back(OPCITEMHEADERWRITE{item->ClientHandle(), item->WriteResult()});
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (results.empty()) {
        stream.sink = 0;
        return true;
    }
    stream.block = BuildWriteCompleteStream(group.ClientHandle(), transactionId, results);
    return stream.block != nullptr;
}

void SendPreparedStream(const DeliveryGroup& group, PreparedStream stream)
{
    const DataObjectPart* part = group.DataObject();
    if (!stream.sink || !part || part->SinkIdentity(stream.kind) != stream.sink) return;
    part->Deliver(stream.kind, stream.coalesces, std::move(stream.block));
}
