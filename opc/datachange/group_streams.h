#pragma once
// The group's streams: the items of a list of server handles read as the streams carry them,
// and the data, data-with-time and write-complete streams built for the group's sinks and sent
// to them. Building and sending are apart, so that a request leaves its record only once its
// streams exist and before any client is called.
// The update pass's data and data-with-time streams are copies of the group's kept streams
// (PreviousStreams) with the records of changed items rewritten, or, when the kept ones no
// longer fit, read anew: the active items owed to either advise sink are read once for both
// formats, and each stream is written straight from the items' own values; only an item with a
// requested type has its value converted into a copy first.
#include <windows.h>
#include <wrl/client.h>

#include <vector>

#include "opc/datachange/data_object.h"
#include "opc/datachange/previous_streams.h"
#include "opc/datachange/stream_formats.h"
#include "opc_da.h"

class DeliveryGroup;

// Items of a group as a data stream carries them, with their server handles.
struct StreamItemList {
    std::vector<OPCHANDLE> handles;
    std::vector<DataStreamItem> items;
};

// The listed items read once, so that the value size measured (MeasureValues(list.items)) and
// the bytes built always agree and a completion's two streams carry the same records. Change
// bit 0 marks an asynchronous completion, whose items may be reported out of service. False
// when memory is short.
bool ReadStreamItems(const DeliveryGroup& group, const OPCHANDLE* handles, DWORD count,
                     WORD changeBit, StreamItemList& list);

// A stream built for one of the group's sinks, held with that sink until it is sent.
struct PreparedStream {
    unsigned sink = 0;  // the sink's DataObjectPart::SinkIdentity; 0: nothing to send
    StreamSink kind = StreamSink::Data;
    // A data change, which a newer one may replace while its client does not answer;
    // completions always arrive.
    bool coalesces = false;
    StreamBlock block;
};

// Sets the stream's kind, whether it coalesces (a data change: transaction 0) and the group's
// sink of `format`; false, with no sink, when there is none or nothing to send.
bool AddressDataStream(const DeliveryGroup& group, DataStreamFormat format, bool hasItems,
                       DWORD transactionId, PreparedStream& stream);

// Builds the stream of `format` with the listed items for the group's sink of that format.
// False only when the block cannot be had; with no sink or no items there is nothing to send
// and the result is true.
bool PrepareDataStream(const DeliveryGroup& group, DataStreamFormat format,
                       const StreamItemList& list, DWORD transactionId, PreparedStream& stream);
// The same with items given as stream records.
bool PrepareDataStream(const DeliveryGroup& group, DataStreamFormat format,
                       const std::vector<StreamRecord>& records, DWORD transactionId,
                       PreparedStream& stream);

// Builds the write-complete stream of the listed items with their write results; false only
// when the block cannot be had.
bool PrepareWriteCompleteStream(const DeliveryGroup& group, const OPCHANDLE* handles, DWORD count,
                                DWORD transactionId, PreparedStream& stream);

// Hands the stream to its sink, if that sink is still the group's (a client may unadvise from
// within an earlier OnDataChange): to its delivery thread, or for a sink in the server's own
// apartment straight to it, after which the block is freed.
void SendPreparedStream(const DeliveryGroup& group, PreparedStream stream);

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
