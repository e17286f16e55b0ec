#pragma once
// Tag lookup as a plain scan of the mirror in ascending slot order with an exact comparison:
// the behaviour the tag name index must reproduce, and the benchmark's baseline.
#include <cwchar>
#include <string_view>

#include "opc/group/tag_lookup.h"
#include "runtime_link/tag_mirror.h"

inline int LinearTagScan(const wchar_t* itemId)
{
    if (!itemId) return kNoTag;
    const std::wstring_view tagName = TagNameOfItemId(itemId);
    for (int slot = 0; slot < g_mirrorCount; ++slot) {
        const MirrorEntry* entry = g_tagMirror[slot];
        if (entry && tagName == std::wstring_view(entry->name, wcsnlen(entry->name,
                                                                      kMirrorNameUnits))) {
            return slot;
        }
    }
    return kNoTag;
}
