#include "opc/datachange/group_streams.h"

#include <deque>
#include <new>
#include <vector>

#include "opc/datachange/async_io.h"
#include "opc/datachange/delivery_group.h"
#include "opc/items/item_object.h"
#include "opc/values/tag_changes.h"
#include "runtime_link/viewer_link.h"

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

// The update pass's data-change streams.
namespace {

// The items owed to either sink, in ascending slot order, with their stream records. A converted
// value is held in `converted`, which never moves what it holds.
struct OwedItems {
    std::vector<ItemObject*> items;
    std::vector<StreamRecord> records;
    std::deque<DataStreamItem> converted;
    WORD bitsOfEveryItem = kOwedToBothSinks;
};

// The record of an item as item read from OPC_DS_CACHE gives it, without copying a value that
// goes into the stream as it is.
StreamRecord ReadOwedItem(const ItemObject& item, bool viewerLinked,
                          std::deque<DataStreamItem>& converted)
{
    const ItemReadSource source = item.ReadSource(viewerLinked);
    if (source.requestedType != VT_EMPTY) {
        converted.push_back(
            ReadItemForStream(source, item.ClientHandle(), item.Timestamp(), false));
        const DataStreamItem& read = converted.back();
        return RecordOf(read.hClient, read.quality, read.timestamp, read.value.get());
    }
    return RecordOf(item.ClientHandle(),
                    ReadQuality(OPC_DS_CACHE, source.active, source.storedQuality),
                    item.Timestamp(), *source.value);
}

bool ReadOwedItems(ItemTable& table, WORD sinkBits, bool viewerLinked, OwedItems& owed)
{
    try {
        owed.items.reserve(kItemSlots);
        owed.records.reserve(kItemSlots);
        table.ForEach([&owed, sinkBits, viewerLinked](ItemObject& item) {
            const WORD bits = item.ChangeMask() & sinkBits;
            if (!item.Active() || bits == 0) return;
            owed.records.push_back(ReadOwedItem(item, viewerLinked, owed.converted));
            owed.items.push_back(&item);
            owed.bitsOfEveryItem &= bits;
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// The stream of one format with the listed items that owe its bit: usually every one of them.
// A stream of every listed item is kept for the next period.
void PrepareOwedStream(DeliveryGroup& group, DataStreamFormat format, WORD bit,
                       const OwedItems& owed, PreparedStream& stream)
{
    std::vector<StreamRecord> some;
    const bool everyItem = (owed.bitsOfEveryItem & bit) != 0;
    if (!everyItem) {
        try {
            for (size_t i = 0; i < owed.items.size(); ++i) {
                if (owed.items[i]->ChangeMask() & bit) some.push_back(owed.records[i]);
            }
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    if (!PrepareDataStream(group, format, everyItem ? owed.records : some, 0, stream) ||
        !stream.sink) {
        return;
    }
    if (everyItem) group.LastDataChangeStreams().Keep(format, stream.block.get());
    // An item without the bit is not in the stream, and clearing changes nothing for it.
    for (ItemObject* item : owed.items) item->ClearChangeBits(bit);
}

// The streams read from every item, kept for the next period when they carry every owed item.
void BuildDataChangeStreams(DeliveryGroup& group, WORD sinkBits, bool viewerLinked,
                            PreparedStream& dataTime, PreparedStream& data)
{
    PreviousStreams& previous = group.LastDataChangeStreams();
    OwedItems owed;
    if (!ReadOwedItems(group.Items(), sinkBits, viewerLinked, owed)) {
        previous.Forget();
        return;
    }
    if (owed.items.empty() || !previous.Begin(sinkBits, viewerLinked, owed.items)) {
        previous.Forget();
    }
    if (sinkBits & kOwedToDataTimeSink) {
        PrepareOwedStream(group, DataStreamFormat::DataTime, kOwedToDataTimeSink, owed, dataTime);
    }
    if (sinkBits & kOwedToDataSink) {
        PrepareOwedStream(group, DataStreamFormat::Data, kOwedToDataSink, owed, data);
    }
    if (!previous.Complete()) {
        previous.Forget();
        return;
    }
    // Every item is now as the kept streams carry it, or (an inactive one) not in them.
    group.Items().ForEach([](ItemObject& item) { item.MarkStreamed(); });
}

// Rewrites the kept streams' record `index` with the item as it is now and marks the item so;
// false when its value block no longer has the kept one's size. `converted` is scratch room for
// a converted value, left empty.
bool RewriteKeptRecord(PreviousStreams& previous, ItemObject& item, size_t index, bool viewerLinked,
                       std::deque<DataStreamItem>& converted)
{
    const StreamRecord record = ReadOwedItem(item, viewerLinked, converted);
    const bool fits = previous.SameValueBlockSize(index, record);
    if (fits) {
        previous.Rewrite(index, record);
        item.MarkStreamed();
    }
    converted.clear();
    return fits;
}

// Rewrites the records of the items changed since the kept streams; false when the kept streams
// no longer carry exactly the group's owed items, or a changed value block is of another size:
// the streams are then built anew.
bool RewriteChangedItems(ItemTable& table, WORD sinkBits, bool viewerLinked,
                         PreviousStreams& previous)
{
    size_t owedItems = 0;
    bool fits = true;
    std::deque<DataStreamItem> converted;
    try {
        table.ForEach([&](ItemObject& item) {
            if (!fits) return;
            const bool owed = item.Active() && (item.ChangeMask() & sinkBits) != 0;
            // The kept streams carry every owed item with every sink's bit, and nothing else.
            if (owed && (item.ChangeMask() & sinkBits) != sinkBits) fits = false;
            owedItems += owed;
            if (item.Streamed()) return;
            const int index = previous.RecordOfSlot(item.ServerHandle());
            if (owed != (index >= 0)) {
                fits = false;
                return;
            }
            if (owed) {
                fits = RewriteKeptRecord(previous, item, static_cast<size_t>(index), viewerLinked,
                                         converted);
            }
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
    return fits && owedItems == previous.Records();
}

// Sends copies of the kept streams to the group's sinks of `sinkBits`; returns the bits of
// those sent.
WORD SendKeptStreams(const DeliveryGroup& group, WORD sinkBits, PreparedStream& dataTime,
                     PreparedStream& data)
{
    const PreviousStreams& previous = group.LastDataChangeStreams();
    WORD sent = 0;
    for (DataStreamFormat format : {DataStreamFormat::DataTime, DataStreamFormat::Data}) {
        const WORD bit =
            format == DataStreamFormat::DataTime ? kOwedToDataTimeSink : kOwedToDataSink;
        if (!(sinkBits & bit)) continue;
        PreparedStream& stream = format == DataStreamFormat::DataTime ? dataTime : data;
        if (!AddressDataStream(group, format, previous.Records() != 0, 0, stream)) continue;
        stream.block = previous.Copy(format, group.ClientHandle());
        // Without its block the stream is not sent, and its items go with the next period.
        if (!stream.block) {
            stream.sink = 0;
            continue;
        }
        sent |= bit;
    }
    return sent;
}

// The streams copied from the kept ones with the changed items rewritten; false when they must
// be built anew.
bool CopyDataChangeStreams(DeliveryGroup& group, WORD sinkBits, bool viewerLinked,
                           PreparedStream& dataTime, PreparedStream& data)
{
    if (!RewriteChangedItems(group.Items(), sinkBits, viewerLinked,
                             group.LastDataChangeStreams())) {
        return false;
    }
    const WORD sent = SendKeptStreams(group, sinkBits, dataTime, data);
    if (sent) group.Items().ForEach([sent](ItemObject& item) { item.ClearChangeBits(sent); });
    return true;
}

// The kept streams with the listed items (refreshed for their changed tags) rewritten, sent;
// false when one of them no longer fits its record: the streams are then read from the items.
bool RewriteRefreshedItems(DeliveryGroup& group, const std::vector<OPCHANDLE>& refreshed,
                           WORD sinkBits, bool viewerLinked, PreparedStream& dataTime,
                           PreparedStream& data)
{
    PreviousStreams& previous = group.LastDataChangeStreams();
    ItemTable& items = group.Items();
    std::deque<DataStreamItem> converted;
    try {
        for (OPCHANDLE handle : refreshed) {
            // No client changed the table since the refresh: every listed item is there.
            ItemObject& item = *items.Find(handle);
            if (item.Streamed()) continue;
            const int index = previous.RecordOfSlot(handle);
            if (index < 0 || !RewriteKeptRecord(previous, item, static_cast<size_t>(index),
                                                viewerLinked, converted)) {
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    const WORD sent = SendKeptStreams(group, sinkBits, dataTime, data);
    for (OPCHANDLE handle : refreshed) items.Find(handle)->ClearChangeBits(sent);
    return true;
}

WORD SinkBitsOf(const DataObjectPart& part)
{
    WORD sinkBits = 0;
    if (part.Connected(StreamSink::DataTime)) sinkBits |= kOwedToDataTimeSink;
    if (part.Connected(StreamSink::Data)) sinkBits |= kOwedToDataSink;
    return sinkBits;
}

}  // namespace

void PrepareDataChangeStreams(DeliveryGroup& group, const PassRefresh& refresh,
                              PreparedStream& dataTime, PreparedStream& data)
{
    const DataObjectPart* part = group.DataObject();
    if (!part) return;
    const WORD sinkBits = SinkBitsOf(*part);
    if (sinkBits == 0) return;
    // No call out is made while the streams are prepared: the link stays as it is found.
    const bool viewerLinked = ViewerLinked();
    PreviousStreams& previous = group.LastDataChangeStreams();
    ItemTable& items = group.Items();
    bool sent = false;
    if (refresh.onlyChangedTags) {
        // Only the listed items can differ from the kept streams while no client changed the
        // group since the refresh.
        sent =
            refresh.streamsCurrent && items.Edits() == refresh.marks.tableEdits &&
            previous.Fit(sinkBits, viewerLinked) &&
            RewriteRefreshedItems(group, refresh.refreshed, sinkBits, viewerLinked, dataTime, data);
        if (!sent) {
            items.ForEach([](ItemObject& item) {
                if (item.Active()) item.MarkRefreshedUnchanged();
            });
        }
    }
    if (!sent && (!previous.Fit(sinkBits, viewerLinked) ||
                  !CopyDataChangeStreams(group, sinkBits, viewerLinked, dataTime, data))) {
        BuildDataChangeStreams(group, sinkBits, viewerLinked, dataTime, data);
    }
    if (items.Edits() == refresh.marks.tableEdits) {
        previous.StreamsMadeCurrent();
    } else {
        previous.NoLongerCurrent();
    }
}
