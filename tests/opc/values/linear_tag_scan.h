#pragma once
// Tag lookup as a plain scan of the mirror in ascending slot order with an exact comparison:
// the behaviour the tag name index must reproduce, and the benchmark's baseline.
#include <cwchar>

#include "opc/values/tag_lookup.h"
#include "runtime_link/tag_mirror.h"

// The lowest slot named `tagName`; mirror names are terminated within their field.
inline int LinearScanForName(const wchar_t* tagName)
{
    for (int slot = 0; slot < g_mirrorCount; ++slot) {
        const MirrorEntry* entry = g_tagMirror[slot];
        if (entry && std::wcscmp(entry->name, tagName) == 0) return slot;
    }
    return kNoTag;
}

// The whole item ID as a tag name first, then the text after its last '.'.
inline int LinearTagScan(const wchar_t* itemId)
{
    if (!itemId) return kNoTag;
    const int exact = LinearScanForName(itemId);
    if (exact != kNoTag) return exact;
    const wchar_t* lastDot = std::wcsrchr(itemId, L'.');
    return LinearScanForName(lastDot ? lastDot + 1 : itemId);
}
