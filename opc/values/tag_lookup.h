#pragma once
// Item ID to tag: an item ID names its tag by the text after its last '.', compared exactly
// (UTF-16 unit by unit, case-sensitive) with the mirror entries' names; the lowest slot wins.
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

constexpr int kNoTag = -1;

// The part of an item ID that names the tag: the text after the last '.', or the whole ID.
// A null item ID gives an empty name.
std::wstring_view TagNameOfItemId(const wchar_t* itemId);

// Tag names of mirror slots 0 .. g_mirrorCount - 1, hashed once after the mirror is built
// (names never change afterwards), so that each lookup costs constant expected time instead
// of a scan of the mirror.
class TagNameIndex {
public:
    // Indexes the current mirror; call again after the mirror is built anew.
    void Build();
    // The lowest slot whose name equals the tag name of itemId, or kNoTag (also for null).
    int Find(const wchar_t* itemId) const;

private:
    // Keys view into names_, which is sized once per build and so never moves under them.
    std::vector<wchar_t> names_;
    std::unordered_map<std::wstring_view, int> slots_;
};

// The server's index of the tag mirror.
extern TagNameIndex g_tagNameIndex;
