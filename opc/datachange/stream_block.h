#pragma once
// The global memory block that carries one stream to a client's advise sink; the server
// frees it right after OnDataChange.
#include <windows.h>

#include <cstdint>
#include <memory>

struct GlobalBlockFree {
    void operator()(HGLOBAL block) const { GlobalFree(block); }
};
using StreamBlock = std::unique_ptr<void, GlobalBlockFree>;

// Where the blocks come from: GlobalAlloc, unless a test puts in an allocation that refuses.
extern decltype(&GlobalAlloc) g_streamBlockAllocation;

// A GMEM_FIXED block of exactly size bytes; null when that fails or size does not fit the
// streams' 32-bit size fields.
StreamBlock AllocateStreamBlock(uint64_t size);
