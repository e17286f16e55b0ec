#pragma once
#include <objbase.h>

#include <cstddef>

// The COM task allocator (MEMCTX_TASK), held from COM start-up to COM shutdown. Every block
// handed to a client comes from it and becomes the client's to free.
extern IMalloc* g_taskAllocator;

// A block of `bytes` from the task allocator; null when it is not there or the block cannot
// be had.
void* TaskAllocate(size_t bytes);
// A task-allocator copy of `text`, terminator included; null for a null text or on failure.
wchar_t* TaskStringCopy(const wchar_t* text);
