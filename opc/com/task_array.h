#pragma once
// Result arrays for clients: blocks of the task allocator, held by an owner until the call
// hands them over, so that a call failing half way leaves nothing behind.
#include <objbase.h>

#include <cstddef>
#include <memory>

#include "opc/com/task_memory.h"

struct TaskBlockFree {
    void operator()(void* block) const { CoTaskMemFree(block); }
};
template <class T>
using TaskArray = std::unique_ptr<T[], TaskBlockFree>;

// An uninitialised array of `count` elements; null when it cannot be had. A count of 0 still
// gets a block: an empty list is a result, not a failure.
template <class T>
TaskArray<T> AllocateTaskArray(DWORD count)
{
    const size_t bytes = count ? static_cast<size_t>(count) * sizeof(T) : 1;
    return TaskArray<T>(static_cast<T*>(TaskAllocate(bytes)));
}
