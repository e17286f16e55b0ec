#include "opc/datachange/stream_formats.h"

#include <cassert>
#include <cstddef>
#include <cstring>
#include <new>

decltype(&GlobalAlloc) g_streamBlockAllocation = GlobalAlloc;

StreamBlock AllocateStreamBlock(uint64_t size)
{
    if (size == 0 || size > MAXDWORD) return nullptr;
    return StreamBlock(g_streamBlockAllocation(GMEM_FIXED, static_cast<SIZE_T>(size)));
}

// The data streams.
namespace {

// The value block's VARIANT part is 16 bytes on every build; on x64 the VARIANT itself is 24.
constexpr size_t kVariantPart = 16;
constexpr size_t kStringLengthField = 4;
constexpr size_t kTerminator = 2;
static_assert(offsetof(VARIANT, llVal) == 8, "the 8-byte value follows vt and three words");
static_assert(sizeof(OPCGROUPHEADER) == 20, "OPCGROUPHEADER is 20 bytes");
static_assert(sizeof(OPCITEMHEADER1) == 20, "OPCITEMHEADER1 is 20 bytes");
static_assert(sizeof(OPCITEMHEADER2) == 12, "OPCITEMHEADER2 is 12 bytes");

uint64_t ItemHeaderSize(DataStreamFormat format)
{
    return format == DataStreamFormat::DataTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
}

UINT StringBytes(const VARIANT& value)
{
    return value.bstrVal ? SysStringByteLen(value.bstrVal) : 0;
}

// Writes the value block of `blockBytes` (its ValueBlockSize) at block.
void WriteValueBlock(const VARIANT& value, uint32_t blockBytes, BYTE* block)
{
    std::memcpy(block, &value, kVariantPart);
    if (value.vt != VT_BSTR) return;
    const DWORD bytes = blockBytes - (kVariantPart + kStringLengthField + kTerminator);
    std::memcpy(block + kVariantPart, &bytes, kStringLengthField);
    BYTE* text = block + kVariantPart + kStringLengthField;
    if (bytes) std::memcpy(text, value.bstrVal, bytes);
    std::memset(text + bytes, 0, kTerminator);
}

void WriteItemHeader(DataStreamFormat format, const StreamRecord& item, DWORD valueOffset, BYTE* at)
{
    if (format == DataStreamFormat::DataTime) {
        const OPCITEMHEADER1 header{item.hClient, valueOffset, item.quality, 0, item.timestamp};
        std::memcpy(at, &header, sizeof header);
    } else {
        const OPCITEMHEADER2 header{item.hClient, valueOffset, item.quality, 0};
        std::memcpy(at, &header, sizeof header);
    }
}

DWORD ValueOffsetOf(DataStreamFormat format, const BYTE* stream, size_t index)
{
    // dwValueOffset follows hClient in both item headers.
    static_assert(offsetof(OPCITEMHEADER1, dwValueOffset) == 4, "value offset after hClient");
    static_assert(offsetof(OPCITEMHEADER2, dwValueOffset) == 4, "value offset after hClient");
    DWORD offset = 0;
    std::memcpy(&offset,
                stream + sizeof(OPCGROUPHEADER) + ItemHeaderSize(format) * index +
                    offsetof(OPCITEMHEADER1, dwValueOffset),
                sizeof offset);
    return offset;
}

uint64_t StreamSize(DataStreamFormat format, size_t items, uint64_t valueBytes)
{
    return sizeof(OPCGROUPHEADER) + ItemHeaderSize(format) * items + valueBytes;
}

}  // namespace

StreamRecord RecordOf(OPCHANDLE hClient, WORD quality, const FILETIME& timestamp,
                      const VARIANT& value)
{
    // A block never exceeds the 32-bit size fields: a BSTR's byte length is itself 32 bits.
    return StreamRecord{hClient, quality, timestamp, &value,
                        static_cast<uint32_t>(ValueBlockSize(value))};
}

bool CompletionOutOfService(WORD changeBit, bool groupActive, DWORD pendingReadSource)
{
    return changeBit == 0 && !groupActive && pendingReadSource == OPC_DS_CACHE;
}

DataStreamItem ReadItemForStream(const ItemReadSource& item, OPCHANDLE hClient,
                                 const FILETIME& timestamp, bool outOfService)
{
    DataStreamItem record;
    record.hClient = hClient;
    record.timestamp = timestamp;
    // A failed conversion shows only as the quality; the stream carries the item regardless.
    ReadItem(item, OPC_DS_CACHE, record.value.Receive(), &record.quality);
    if (outOfService) record.quality = OPC_QUALITY_OUT_OF_SERVICE;
    return record;
}

uint64_t ValueBlockSize(const VARIANT& value)
{
    if (value.vt != VT_BSTR) return kVariantPart;
    return kVariantPart + kStringLengthField + uint64_t{StringBytes(value)} + kTerminator;
}

uint64_t MeasureValues(const std::vector<DataStreamItem>& items)
{
    uint64_t total = 0;
    for (const DataStreamItem& item : items) total += ValueBlockSize(item.value.get());
    return total;
}

uint64_t DataStreamSize(DataStreamFormat format, const std::vector<DataStreamItem>& items)
{
    return StreamSize(format, items.size(), MeasureValues(items));
}

StreamBlock BuildDataStream(DataStreamFormat format, OPCHANDLE hClientGroup, DWORD transactionId,
                            const std::vector<StreamRecord>& records)
{
    uint64_t valueBytes = 0;
    for (const StreamRecord& record : records) valueBytes += record.valueBytes;
    const uint64_t total = StreamSize(format, records.size(), valueBytes);
    StreamBlock block = AllocateStreamBlock(total);
    if (!block) return block;
    auto* bytes = static_cast<BYTE*>(GlobalLock(block.get()));
    const OPCGROUPHEADER group{static_cast<DWORD>(total), static_cast<DWORD>(records.size()),
                               hClientGroup, transactionId, S_OK};
    std::memcpy(bytes, &group, sizeof group);
    size_t header = sizeof(OPCGROUPHEADER);
    size_t value = sizeof(OPCGROUPHEADER) + ItemHeaderSize(format) * records.size();
    for (const StreamRecord& record : records) {
        WriteItemHeader(format, record, static_cast<DWORD>(value), bytes + header);
        WriteValueBlock(*record.value, record.valueBytes, bytes + value);
        value += record.valueBytes;
        header += ItemHeaderSize(format);
    }
    assert(value == total);
    GlobalUnlock(block.get());
    return block;
}

StreamBlock BuildDataStream(DataStreamFormat format, OPCHANDLE hClientGroup, DWORD transactionId,
                            const std::vector<DataStreamItem>& items)
{
    std::vector<StreamRecord> records;
    try {
        records.reserve(items.size());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (const DataStreamItem& item : items) {
        records.push_back(RecordOf(item.hClient, item.quality, item.timestamp, item.value.get()));
    }
    return BuildDataStream(format, hClientGroup, transactionId, records);
}

uint32_t StreamValueBlockBytes(DataStreamFormat format, const BYTE* stream, size_t size,
                               size_t index)
{
    DWORD items = 0;
    std::memcpy(&items, stream + offsetof(OPCGROUPHEADER, dwItemCount), sizeof items);
    const DWORD end =
        index + 1 < items ? ValueOffsetOf(format, stream, index + 1) : static_cast<DWORD>(size);
    return end - ValueOffsetOf(format, stream, index);
}

void RewriteStreamRecord(DataStreamFormat format, BYTE* stream, size_t index,
                         const StreamRecord& record)
{
    const DWORD value = ValueOffsetOf(format, stream, index);
    WriteItemHeader(format, record, value,
                    stream + sizeof(OPCGROUPHEADER) + ItemHeaderSize(format) * index);
    WriteValueBlock(*record.value, record.valueBytes, stream + value);
}

// The write-complete stream.
static_assert(sizeof(OPCGROUPHEADERWRITE) == 16, "OPCGROUPHEADERWRITE is 16 bytes");
static_assert(sizeof(OPCITEMHEADERWRITE) == 8, "OPCITEMHEADERWRITE is 8 bytes");

uint64_t WriteCompleteStreamSize(size_t itemCount)
{
    return sizeof(OPCGROUPHEADERWRITE) + uint64_t{sizeof(OPCITEMHEADERWRITE)} * itemCount;
}

StreamBlock BuildWriteCompleteStream(OPCHANDLE hClientGroup, DWORD transactionId,
                                     const std::vector<OPCITEMHEADERWRITE>& items)
{
    StreamBlock block = AllocateStreamBlock(WriteCompleteStreamSize(items.size()));
    if (!block) return block;
    auto* bytes = static_cast<BYTE*>(GlobalLock(block.get()));
    const OPCGROUPHEADERWRITE group{static_cast<DWORD>(items.size()), hClientGroup, transactionId,
                                    S_OK};
    std::memcpy(bytes, &group, sizeof group);
    if (!items.empty()) {
        std::memcpy(bytes + sizeof group, items.data(), sizeof(OPCITEMHEADERWRITE) * items.size());
    }
    GlobalUnlock(block.get());
    return block;
}
