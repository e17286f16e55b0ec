#pragma once
// The byte layouts of the three streams a group's advise sinks receive, each built in a global
// memory block of its own:
// - "OPCSTMFORMATDATA" and "OPCSTMFORMATDATATIME": a 20-byte OPCGROUPHEADER, one item header per
//   item (OPCITEMHEADER2, 12 bytes, or OPCITEMHEADER1 with the timestamp, 20 bytes), then one
//   value block per item, all without alignment gaps;
// - "OPCSTMFORMATWRITECOMPLETE": a 16-byte OPCGROUPHEADERWRITE (no size field; it starts with
//   the item count), then one 8-byte OPCITEMHEADERWRITE per item.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "opc/values/item_value.h"
#include "opc/values/item_value_owner.h"
#include "opc_da.h"

// The global memory block that carries one stream to a client's advise sink; the server
// frees it right after OnDataChange.
struct GlobalBlockFree {
    void operator()(HGLOBAL block) const { GlobalFree(block); }
};
using StreamBlock = std::unique_ptr<void, GlobalBlockFree>;

// Where the blocks come from: GlobalAlloc, unless a test puts in an allocation that refuses.
extern decltype(&GlobalAlloc) g_streamBlockAllocation;

// A GMEM_FIXED block of exactly size bytes; null when that fails or size does not fit the
// streams' 32-bit size fields.
StreamBlock AllocateStreamBlock(uint64_t size);

// The data streams.
enum class DataStreamFormat { Data, DataTime };

// One item as a data stream carries it.
struct DataStreamItem {
    OPCHANDLE hClient = 0;
    WORD quality = 0;
    FILETIME timestamp = {};  // carried by the data-with-time stream only
    VariantOwner value;       // the value as delivered, owned by the record
};

// One item as the stream builder takes it; the value is held elsewhere (by the item itself, or
// by a DataStreamItem read from it) while the stream is built.
struct StreamRecord {
    OPCHANDLE hClient;
    WORD quality;
    FILETIME timestamp;
    const VARIANT* value;
    uint32_t valueBytes;  // ValueBlockSize(*value)
};

// Whether a completion reports its items out of service: change bit 0 (an asynchronous read
// or refresh being completed) in an inactive group whose pending read is from OPC_DS_CACHE.
bool CompletionOutOfService(WORD changeBit, bool groupActive, DWORD pendingReadSource);

// The record of a value held elsewhere.
StreamRecord RecordOf(OPCHANDLE hClient, WORD quality, const FILETIME& timestamp,
                      const VARIANT& value);

// The item's record the way the streams obtain it: item read from OPC_DS_CACHE (a failed
// conversion leaves the canonical value and quality OPC_QUALITY_BAD), then out of service
// when the completion says so.
DataStreamItem ReadItemForStream(const ItemReadSource& item, OPCHANDLE hClient,
                                 const FILETIME& timestamp, bool outOfService);

// One value block: the VARIANT's first 16 bytes (vt, three reserved words, the 8-byte
// value), and for VT_BSTR the byte length L, the characters and a terminator: 16 or L + 22.
uint64_t ValueBlockSize(const VARIANT& value);
// V, the sum of the items' value blocks.
uint64_t MeasureValues(const std::vector<DataStreamItem>& items);
// The whole stream: group header, item headers and V.
uint64_t DataStreamSize(DataStreamFormat format, const std::vector<DataStreamItem>& items);

// The stream in a new block, or null when the block cannot be allocated. hrStatus is S_OK.
StreamBlock BuildDataStream(DataStreamFormat format, OPCHANDLE hClientGroup, DWORD transactionId,
                            const std::vector<StreamRecord>& records);
StreamBlock BuildDataStream(DataStreamFormat format, OPCHANDLE hClientGroup, DWORD transactionId,
                            const std::vector<DataStreamItem>& items);

// In a built stream of `size` bytes: the size of item `index`'s value block.
uint32_t StreamValueBlockBytes(DataStreamFormat format, const BYTE* stream, size_t size,
                               size_t index);
// Rewrites item `index` of a built stream in place with `record`, whose value block has the
// size of the one it replaces.
void RewriteStreamRecord(DataStreamFormat format, BYTE* stream, size_t index,
                         const StreamRecord& record);

// The write-complete stream.
uint64_t WriteCompleteStreamSize(size_t itemCount);

// The stream in a new block, or null when the block cannot be allocated. Each item's dwError
// is its write result as given (S_OK or the failed conversion's HRESULT); hrStatus is S_OK.
StreamBlock BuildWriteCompleteStream(OPCHANDLE hClientGroup, DWORD transactionId,
                                     const std::vector<OPCITEMHEADERWRITE>& items);
