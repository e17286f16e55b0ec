#include "opc/datachange/data_change_streams.h"

#include <deque>
#include <new>
#include <vector>

#include "opc/datachange/delivery_group.h"
#include "opc/items/item_object.h"
#include "runtime_link/viewer_link.h"

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

bool ReadOwedItems(ItemTable& table, WORD sinkBits, OwedItems& owed)
{
    // No call out is made during the walk: the link stays as it is found.
    const bool viewerLinked = ViewerLinked();
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
    // An item without the bit is not in the stream, and clearing changes nothing for it.
    for (ItemObject* item : owed.items) item->ClearChangeBits(bit);
}

}  // namespace

void PrepareDataChangeStreams(DeliveryGroup& group, PreparedStream& dataTime, PreparedStream& data)
{
    const DataObjectPart* part = group.DataObject();
    if (!part) return;
    WORD sinkBits = 0;
    if (part->Sink(StreamSink::DataTime)) sinkBits |= kOwedToDataTimeSink;
    if (part->Sink(StreamSink::Data)) sinkBits |= kOwedToDataSink;
    OwedItems owed;
    if (sinkBits == 0 || !ReadOwedItems(group.Items(), sinkBits, owed)) return;
    if (sinkBits & kOwedToDataTimeSink) {
        PrepareOwedStream(group, DataStreamFormat::DataTime, kOwedToDataTimeSink, owed, dataTime);
    }
    if (sinkBits & kOwedToDataSink) {
        PrepareOwedStream(group, DataStreamFormat::Data, kOwedToDataSink, owed, data);
    }
}
