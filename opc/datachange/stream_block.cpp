#include "opc/datachange/stream_block.h"

decltype(&GlobalAlloc) g_streamBlockAllocation = GlobalAlloc;

StreamBlock AllocateStreamBlock(uint64_t size)
{
    if (size == 0 || size > MAXDWORD) return nullptr;
    return StreamBlock(g_streamBlockAllocation(GMEM_FIXED, static_cast<SIZE_T>(size)));
}
