#pragma once
// A group's last data-change streams, kept so that the next ones are made by copying them:
// while no item changed, a new stream's bytes are the last one's; an item that changed has its
// header and value block rewritten in place when its value block keeps its size. Anything else
// (items added, removed, made active or inactive, a value block that grows or shrinks, another
// set of sinks, the Viewer gone or back) has the streams built anew from the items and kept
// again. The blocks handed to the sinks are always new copies: the kept bytes stay the group's.
#include <windows.h>

#include <cstdint>
#include <vector>

#include "opc/datachange/stream_formats.h"
#include "opc_da.h"

class ItemObject;

// What a pass found before it refreshed the group's items: the tags' last change
// (LastTagChange), the item table's edits and the quality the Viewer link gives.
struct ItemMarks {
    uint64_t tagChange;
    uint32_t tableEdits;
    WORD quality;
};

class PreviousStreams {
public:
    // Whether streams are kept for exactly the sinks of `sinkBits` (kOwedToDataSink,
    // kOwedToDataTimeSink), read with the Viewer link as `viewerLinked`.
    bool Fit(WORD sinkBits, bool viewerLinked) const
    {
        return m_sinkBits != 0 && m_sinkBits == sinkBits && m_viewerLinked == viewerLinked;
    }
    // Whether every active item holds its tag's value but for the items of tags changed since
    // ItemsCurrentSince: the group's last refresh found the same edits and quality and left
    // every item so. A pass at `marks` then refreshes only the items of those tags.
    bool ItemsCurrentAt(const ItemMarks& marks) const
    {
        return m_itemsCurrent && m_itemsAt.tableEdits == marks.tableEdits &&
               m_itemsAt.quality == marks.quality;
    }
    // The tags' last change (LastTagChange) when the items were last made current.
    uint64_t ItemsCurrentSince() const { return m_itemsAt.tagChange; }
    // Whether the kept streams are what the items gave when they were last made current.
    bool StreamsCurrent() const { return m_streamsCurrent && m_sinkBits != 0; }
    // A refresh at `marks` just left every item holding its tag's value (current), or not;
    // the kept streams are not yet made from it.
    void ItemsRefreshed(bool current, const ItemMarks& marks)
    {
        m_itemsCurrent = current;
        m_itemsAt = marks;
        m_streamsCurrent = false;
    }
    // The kept streams were just made from the items as the last refresh left them.
    void StreamsMadeCurrent() { m_streamsCurrent = m_itemsCurrent; }
    // A client changed the group since the last refresh.
    void NoLongerCurrent()
    {
        m_itemsCurrent = false;
        m_streamsCurrent = false;
    }
    // The number of items each kept stream carries.
    size_t Records() const { return m_records; }
    // The record of the item in `slot`, or -1 when the streams do not carry it.
    int RecordOfSlot(OPCHANDLE slot) const;
    // Whether `item`'s value block has the size of the kept one of record `index` in every kept
    // stream.
    bool SameValueBlockSize(size_t index, const StreamRecord& item) const;
    // Rewrites record `index` (of the same value block size) in every kept stream.
    void Rewrite(size_t index, const StreamRecord& item);
    // A new block holding the kept stream of `format` for the group `hClientGroup`; null when
    // the block cannot be had.
    StreamBlock Copy(DataStreamFormat format, OPCHANDLE hClientGroup) const;

    // Starts keeping anew: forgets what is kept and takes the streams' items, in stream order.
    // False when memory is short.
    bool Begin(WORD sinkBits, bool viewerLinked, const std::vector<ItemObject*>& items);
    // Keeps a stream of `format` just built with the items of Begin; false when memory is short.
    bool Keep(DataStreamFormat format, HGLOBAL block);
    // Whether every stream Begin promised is kept.
    bool Complete() const;
    // Forgets what is kept and lets its memory go.
    void Forget();

private:
    static int Index(DataStreamFormat format) { return format == DataStreamFormat::Data ? 0 : 1; }
    static WORD SinkBitOf(DataStreamFormat format);

    std::vector<BYTE> m_bytes[2];  // by Index: empty when not kept
    size_t m_records = 0;
    std::vector<int32_t> m_recordOfSlot;  // kItemSlots entries, -1 where no item is carried
    WORD m_sinkBits = 0;                  // 0: nothing kept
    bool m_viewerLinked = false;
    bool m_itemsCurrent = false;
    ItemMarks m_itemsAt = {};
    bool m_streamsCurrent = false;
};
