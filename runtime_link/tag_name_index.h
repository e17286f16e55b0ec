#pragma once
// Tag names of mirror slots 0 .. g_mirrorCount - 1, hashed once after the mirror is built
// (names never change afterwards), so that each lookup costs constant expected time instead of
// a scan of the mirror. The tag mirror keeps its own index (tag_mirror.h); names are compared
// exactly (UTF-16 unit by unit, case-sensitive) and the lowest slot of a name wins.
#include <cstddef>
#include <string_view>
#include <unordered_map>
#include <vector>

constexpr int kNoTag = -1;

class TagNameIndex {
public:
    // Indexes the current mirror.
    void Build();
    // Forgets every name.
    void Clear();
    // The lowest slot whose name is `tagName`, or kNoTag.
    int Find(std::wstring_view tagName) const;

private:
    // Keys view into names_, which is sized once per build and so never moves under them.
    std::vector<wchar_t> names_;
    std::unordered_map<std::wstring_view, int> slots_;
};
