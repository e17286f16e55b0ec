#include "opc/values/tag_lookup.h"

#include <cwchar>

#include "runtime_link/tag_mirror.h"

std::wstring_view TagNameOfItemId(const wchar_t* itemId)
{
    if (!itemId) return {};
    const wchar_t* lastDot = std::wcsrchr(itemId, L'.');
    return lastDot ? std::wstring_view(lastDot + 1) : std::wstring_view(itemId);
}

int FindTagOfItemId(const TagNameIndex& index, const wchar_t* itemId)
{
    if (!itemId) return kNoTag;
    return index.Find(TagNameOfItemId(itemId));
}

int FindTagOfItemId(const wchar_t* itemId)
{
    return FindTagOfItemId(TagMirrorIndex(), itemId);
}
