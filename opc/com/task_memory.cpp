#include "opc/com/task_memory.h"

#include <cwchar>

IMalloc* g_taskAllocator = nullptr;

void* TaskAllocate(size_t bytes)
{
    if (!g_taskAllocator) return nullptr;
    return g_taskAllocator->Alloc(bytes);
}

wchar_t* TaskStringCopy(const wchar_t* text)
{
    if (!text) return nullptr;
    const size_t units = std::wcslen(text) + 1;
    auto* copy = static_cast<wchar_t*>(TaskAllocate(units * sizeof(wchar_t)));
    if (copy) std::wmemcpy(copy, text, units);
    return copy;
}
