#pragma once
// Item ID to tag: an item ID names its tag by the text after its last '.', looked up in the
// tag mirror's name index.
#include <string_view>

#include "runtime_link/tag_name_index.h"

// The part of an item ID that names the tag: the text after the last '.', or the whole ID.
// A null item ID gives an empty name.
std::wstring_view TagNameOfItemId(const wchar_t* itemId);

// The mirror slot of the tag `itemId` names, or kNoTag (also for null).
int FindTagOfItemId(const wchar_t* itemId);
// The same in a given index.
int FindTagOfItemId(const TagNameIndex& index, const wchar_t* itemId);
