#pragma once
// The time a server-level read of a tag's mirror value carries (item property 4, the properties
// IOPCBrowse hands out): the time the mirror took the value, as IOPCItemIO::Read stamps it.
#include <windows.h>

class GroupTable;

class TagValueTimes {
public:
    // Made before the tags are read; the times live in the mirror entries, so nothing of the
    // client's groups is gathered and this never fails.
    bool Collect(const GroupTable& /*groups*/) { return true; }
    FILETIME Of(int slot) const;
};
