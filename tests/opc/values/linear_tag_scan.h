#pragma once
// Tag lookup as a plain scan of the mirror in ascending slot order with an exact comparison:
// the behaviour the tag name index must reproduce, and the benchmark's baseline.
#include <cwchar>

#include "opc/values/tag_lookup.h"
#include "runtime_link/tag_mirror.h"

inline int LinearTagScan(const wchar_t* itemId)
{
    if (!itemId) return kNoTag;
    // The tag name is the item ID's tail, so it ends with the item ID's terminator; mirror
    // names are terminated within their field.
    const wchar_t* tagName = TagNameOfItemId(itemId).data();
    for (int slot = 0; slot < g_mirrorCount; ++slot) {
        const MirrorEntry* entry = g_tagMirror[slot];
        if (entry && std::wcscmp(entry->name, tagName) == 0) return slot;
    }
    return kNoTag;
}
