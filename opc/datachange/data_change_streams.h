#pragma once
// The update pass's data and data-with-time streams: copies of the group's kept streams
// (PreviousStreams) with the records of changed items rewritten, or, when the kept ones no
// longer fit, read anew: the active items owed to either advise sink are read once for both
// formats, and each stream is written straight from the items' own values; only an item with a
// requested type has its value converted into a copy first.
#include <vector>

#include "opc/datachange/group_streams.h"
#include "opc/datachange/previous_streams.h"

class DeliveryGroup;

// What the pass's item refresh did.
struct PassRefresh {
    ItemMarks marks;  // found before the refresh
    // The items were current at the marks (PreviousStreams::ItemsCurrentAt): only the active
    // items of tags changed since were refreshed, and are listed.
    bool onlyChangedTags = false;
    std::vector<OPCHANDLE> refreshed;
    // The kept streams were what the items gave before this refresh.
    bool streamsCurrent = false;
    bool settled = true;  // every item held its tag's value after the refresh
};

// Builds the streams for the group's data-with-time and data sinks; a format without a sink or
// without an item owed to it gets no sink and is not sent. Each built stream clears its bit in
// its items; a stream whose memory cannot be had leaves the bit, and its items go with the next
// period. After a refresh of only the changed tags' items the kept streams are sent with those
// items rewritten, unless a client changed the group since the pass began (from within a call
// made to it) or a value block changed its size: the other items are then owed as a full
// refresh would have owed them, and read.
void PrepareDataChangeStreams(DeliveryGroup& group, const PassRefresh& refresh,
                              PreparedStream& dataTime, PreparedStream& data);
