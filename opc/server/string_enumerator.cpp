#include "opc/server/string_enumerator.h"

#include <cwchar>

LPOLESTR StringElements::HandOut(const Stored& text, IMalloc* allocator)
{
    if (!text || !allocator) return nullptr;
    const size_t units = std::wcslen(text.get()) + 1;
    auto* copy = static_cast<LPOLESTR>(allocator->Alloc(units * sizeof(wchar_t)));
    if (copy) std::wmemcpy(copy, text.get(), units);
    return copy;
}
