#pragma once
#include <objbase.h>

#include "opc/com/enumerator.h"
#include "opc/com/heap_string.h"

// Strings: private heap copies; Next hands out task-allocator copies that the client frees
// (null when one cannot be had).
struct StringElements : HandedOutOneByOne<StringElements> {
    using Interface = IEnumString;
    using Item = LPOLESTR;
    using Source = const wchar_t*;
    using Stored = HeapString;

    static Stored Keep(Source text) { return CopyHeapString(text); }
    static Source View(const Stored& text) { return text.get(); }
    static Item HandOut(const Stored& text, IMalloc* allocator);
};

using StringEnumerator = Enumerator<StringElements>;
