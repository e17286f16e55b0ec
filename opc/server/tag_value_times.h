#pragma once
// The time a server-level read of a tag carries (item property 4, IOPCItemIO::Read): the newest
// timestamp of the client's own items of the tag in its groups, so that it agrees with what
// they read there; without such an item, the time of the call, as an item added then would be
// stamped.
#include <windows.h>

#include <unordered_map>

class GroupTable;

class TagValueTimes {
public:
    // Walks the client's items once, for every tag a call reads; false when the times cannot
    // be kept.
    bool Collect(const GroupTable& groups);
    FILETIME Of(int slot) const;

private:
    std::unordered_map<int, FILETIME> m_newest;
    FILETIME m_callTime = {};
};
