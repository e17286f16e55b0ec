#pragma once
// A block the server handed out from the COM task allocator, freed when its owner goes.
#include <objbase.h>

#include <memory>

struct TaskMemFree {
    void operator()(void* block) const { CoTaskMemFree(block); }
};

template <class T>
using TaskBlock = std::unique_ptr<T, TaskMemFree>;
