#include "opc/datachange/previous_streams.h"

#include <cstring>
#include <new>

#include "opc/items/item_object.h"
#include "opc/items/item_table.h"

WORD PreviousStreams::SinkBitOf(DataStreamFormat format)
{
    return format == DataStreamFormat::Data ? kOwedToDataSink : kOwedToDataTimeSink;
}

int PreviousStreams::RecordOfSlot(OPCHANDLE slot) const
{
    return slot < m_recordOfSlot.size() ? m_recordOfSlot[slot] : -1;
}

bool PreviousStreams::SameValueBlockSize(size_t index, const StreamRecord& item) const
{
    for (DataStreamFormat format : {DataStreamFormat::Data, DataStreamFormat::DataTime}) {
        const std::vector<BYTE>& bytes = m_bytes[Index(format)];
        if (bytes.empty()) continue;
        if (StreamValueBlockBytes(format, bytes.data(), bytes.size(), index) != item.valueBytes) {
            return false;
        }
    }
    return true;
}

void PreviousStreams::Rewrite(size_t index, const StreamRecord& item)
{
    for (DataStreamFormat format : {DataStreamFormat::Data, DataStreamFormat::DataTime}) {
        std::vector<BYTE>& bytes = m_bytes[Index(format)];
        if (!bytes.empty()) RewriteStreamRecord(format, bytes.data(), index, item);
    }
}

StreamBlock PreviousStreams::Copy(DataStreamFormat format, OPCHANDLE hClientGroup) const
{
    const std::vector<BYTE>& bytes = m_bytes[Index(format)];
    StreamBlock block = AllocateStreamBlock(bytes.size());
    if (!block) return block;
    auto* copy = static_cast<BYTE*>(GlobalLock(block.get()));
    std::memcpy(copy, bytes.data(), bytes.size());
    // The group's client handle may have changed since; a data change has no transaction.
    const OPCGROUPHEADER header{static_cast<DWORD>(bytes.size()), static_cast<DWORD>(Records()),
                                hClientGroup, 0, S_OK};
    std::memcpy(copy, &header, sizeof header);
    GlobalUnlock(block.get());
    return block;
}

bool PreviousStreams::Begin(WORD sinkBits, bool viewerLinked, const std::vector<ItemObject*>& items)
{
    // The memory kept is used again: a group's streams mostly keep their size.
    m_sinkBits = 0;
    m_streamsCurrent = false;
    for (std::vector<BYTE>& bytes : m_bytes) bytes.clear();
    try {
        m_recordOfSlot.assign(kItemSlots, -1);
    } catch (const std::bad_alloc&) {
        Forget();
        return false;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        m_recordOfSlot[items[i]->ServerHandle()] = static_cast<int32_t>(i);
    }
    m_records = items.size();
    m_sinkBits = sinkBits;
    m_viewerLinked = viewerLinked;
    return true;
}

bool PreviousStreams::Keep(DataStreamFormat format, HGLOBAL block)
{
    std::vector<BYTE>& bytes = m_bytes[Index(format)];
    const auto* built = static_cast<const BYTE*>(GlobalLock(block));
    DWORD size = 0;  // the group header's dwSize
    std::memcpy(&size, built, sizeof size);
    bool kept = true;
    try {
        bytes.assign(built, built + size);
    } catch (const std::bad_alloc&) {
        kept = false;
    }
    GlobalUnlock(block);
    if (!kept) Forget();
    return kept;
}

bool PreviousStreams::Complete() const
{
    if (m_sinkBits == 0) return false;
    for (DataStreamFormat format : {DataStreamFormat::Data, DataStreamFormat::DataTime}) {
        if ((m_sinkBits & SinkBitOf(format)) && m_bytes[Index(format)].empty()) return false;
    }
    return true;
}

void PreviousStreams::Forget()
{
    for (std::vector<BYTE>& bytes : m_bytes) std::vector<BYTE>().swap(bytes);
    std::vector<int32_t>().swap(m_recordOfSlot);
    m_records = 0;
    m_sinkBits = 0;
    m_streamsCurrent = false;
}
