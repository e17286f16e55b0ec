#include "opc/com/heap_string.h"

#include <cwchar>
#include <new>

HeapString CopyHeapString(const wchar_t* text)
{
    if (!text) return nullptr;
    const size_t units = std::wcslen(text) + 1;
    HeapString copy(new (std::nothrow) wchar_t[units]);
    if (copy) std::wmemcpy(copy.get(), text, units);
    return copy;
}
