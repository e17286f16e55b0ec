#pragma once
// The update pass's data and data-with-time streams: the active items owed to either advise
// sink are read once for both formats, and each stream is written straight from the items' own
// values; only an item with a requested type has its value converted into a copy first.
#include "opc/datachange/group_streams.h"

class DeliveryGroup;

// Builds the streams for the group's data-with-time and data sinks; a format without a sink or
// without an item owed to it gets no sink and is not sent. Each built stream clears its bit in
// its items; a stream whose memory cannot be had leaves the bit, and its items go with the next
// period.
void PrepareDataChangeStreams(DeliveryGroup& group, PreparedStream& dataTime, PreparedStream& data);
