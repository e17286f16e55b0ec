#include "opc/datachange/group_streams.h"

#include <new>

#include "opc/datachange/stream_handover.h"
#include "opc/datachange/stream_write_complete.h"
#include "opc/group/group_object.h"
#include "opc/group/item_object.h"

namespace {

StreamSink SinkOf(DataStreamFormat format)
{
    return format == DataStreamFormat::DataTime ? StreamSink::DataTime : StreamSink::Data;
}

// The sink, held for the call: a client may unadvise from within OnDataChange.
Microsoft::WRL::ComPtr<IAdviseSink> HeldSink(const GroupObject& group, StreamSink sink)
{
    const DataObjectPart* part = group.DataObject();
    return part ? part->Sink(sink) : nullptr;
}

}  // namespace

bool ReadStreamItems(const GroupObject& group, const OPCHANDLE* handles, DWORD count,
                     WORD changeBit, StreamItemList& list)
{
    const bool outOfService = CompletionOutOfService(changeBit, group.state.active != FALSE,
                                                     group.Requests().read.source);
    try {
        list.handles.clear();
        list.items.clear();
        list.handles.reserve(count);
        list.items.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            // Lists hold only handles of items in the table: removal takes them out.
            const ItemObject* item = group.Items().Find(handles[i]);
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

bool PrepareDataStream(const GroupObject& group, DataStreamFormat format,
                       const StreamItemList& list, DWORD transactionId, PreparedStream& stream)
{
    stream.kind = SinkOf(format);
    stream.sink = HeldSink(group, stream.kind);
    if (!stream.sink || list.items.empty()) {
        stream.sink.Reset();
        return true;
    }
    stream.block = BuildDataStream(format, group.state.clientHandle, transactionId, list.items);
    return stream.block != nullptr;
}

bool PrepareWriteCompleteStream(const GroupObject& group, const OPCHANDLE* handles, DWORD count,
                                DWORD transactionId, PreparedStream& stream)
{
    stream.kind = StreamSink::WriteComplete;
    stream.sink = HeldSink(group, stream.kind);
    if (!stream.sink) return true;
    std::vector<OPCITEMHEADERWRITE> results;
    try {
        results.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            const ItemObject* item = group.Items().Find(handles[i]);
            if (!item) continue;
            HRESULT result = S_OK;
            item->WriteComplete(&result);   // a write's result is ready as soon as it is made
            results.push_back(OPCITEMHEADERWRITE{item->ClientHandle(), result});
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (results.empty()) {
        stream.sink.Reset();
        return true;
    }
    stream.block = BuildWriteCompleteStream(group.state.clientHandle, transactionId, results);
    return stream.block != nullptr;
}

void SendPreparedStream(const GroupObject& group, PreparedStream stream)
{
    const DataObjectPart* part = group.DataObject();
    if (!stream.sink || !part || part->Sink(stream.kind) != stream.sink.Get()) return;
    SendStream(*stream.sink.Get(), part->Format(stream.kind), std::move(stream.block));
}
