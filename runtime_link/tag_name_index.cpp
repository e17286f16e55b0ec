#include "runtime_link/tag_name_index.h"

#include <cwchar>

#include "runtime_link/tag_mirror.h"

void TagNameIndex::Build()
{
    Clear();
    const int count =
        g_mirrorCount < 0 ? 0 : (g_mirrorCount > kMirrorSlots ? kMirrorSlots : g_mirrorCount);
    names_.resize(static_cast<size_t>(count) * kMirrorNameUnits);
    slots_.reserve(static_cast<size_t>(count));
    for (int slot = 0; slot < count; ++slot) {
        const MirrorEntry* entry = g_tagMirror[slot];
        if (!entry) continue;
        wchar_t* copy = &names_[static_cast<size_t>(slot) * kMirrorNameUnits];
        // The field is terminated within its width; the bound guards an entry that is not.
        const size_t length = wcsnlen(entry->name, kMirrorNameUnits);
        std::wmemcpy(copy, entry->name, length);
        // emplace keeps the first, that is lowest, slot of a name that occurs twice.
        slots_.emplace(std::wstring_view(copy, length), slot);
    }
}

void TagNameIndex::Clear()
{
    slots_.clear();
    names_.clear();
}

int TagNameIndex::Find(std::wstring_view tagName) const
{
    // No mirror name is longer; spares hashing a long client string.
    if (tagName.size() > static_cast<size_t>(kMirrorNameUnits)) return kNoTag;
    const auto found = slots_.find(tagName);
    return found == slots_.end() ? kNoTag : found->second;
}
