#include "opc/datachange/stream_block.h"

StreamBlock AllocateStreamBlock(uint64_t size)
{
    if (size == 0 || size > MAXDWORD) return nullptr;
    return StreamBlock(GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(size)));
}
