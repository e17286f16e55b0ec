#pragma once
// Item ID to tag: an item ID names the tag whose name it is exactly, else the tag named by the
// text after its last '.', looked up in the tag mirror's name index. So every tag name that
// browsing lists is an item ID, dots and all, and `Tagname.TANK1` still names `TANK1`.
#include <string_view>

#include "runtime_link/tag_name_index.h"

// The part of an item ID that names the tag in `index`: the whole ID when a tag has exactly
// that name, else the text after the last '.', or the whole ID. A null item ID gives an empty
// name.
std::wstring_view TagNameOfItemId(const TagNameIndex& index, const wchar_t* itemId);
// The same in the tag mirror's index.
std::wstring_view TagNameOfItemId(const wchar_t* itemId);

// The mirror slot of the tag `itemId` names, or kNoTag (also for null).
int FindTagOfItemId(const wchar_t* itemId);
// The same in a given index.
int FindTagOfItemId(const TagNameIndex& index, const wchar_t* itemId);
