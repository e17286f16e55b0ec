#include "opc/datachange/stream_write_complete.h"

#include <cstring>

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
