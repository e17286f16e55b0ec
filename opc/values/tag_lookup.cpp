#include "opc/values/tag_lookup.h"

#include "runtime_link/tag_mirror.h"

namespace {

std::wstring_view AfterLastDot(std::wstring_view itemId)
{
    const size_t lastDot = itemId.rfind(L'.');
    return lastDot == std::wstring_view::npos ? itemId : itemId.substr(lastDot + 1);
}

}  // namespace

std::wstring_view TagNameOfItemId(const TagNameIndex& index, const wchar_t* itemId)
{
    if (!itemId) return {};
    const std::wstring_view whole(itemId);
    return index.Find(whole) != kNoTag ? whole : AfterLastDot(whole);
}

std::wstring_view TagNameOfItemId(const wchar_t* itemId)
{
    return TagNameOfItemId(TagMirrorIndex(), itemId);
}

int FindTagOfItemId(const TagNameIndex& index, const wchar_t* itemId)
{
    if (!itemId) return kNoTag;
    const std::wstring_view whole(itemId);
    const int exact = index.Find(whole);
    if (exact != kNoTag) return exact;
    // Without a dot the tail is the whole ID, already looked up.
    const std::wstring_view tail = AfterLastDot(whole);
    return tail.size() == whole.size() ? kNoTag : index.Find(tail);
}

int FindTagOfItemId(const wchar_t* itemId)
{
    return FindTagOfItemId(TagMirrorIndex(), itemId);
}
