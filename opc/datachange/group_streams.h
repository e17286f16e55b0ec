#pragma once
// The group's streams: the items of a list of server handles read as the streams carry them,
// and the data, data-with-time and write-complete streams sent to the group's sinks.
#include <windows.h>

#include <vector>

#include "opc/datachange/stream_data.h"
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

// Builds the stream of `format` and hands it to the group's sink of that format, if set.
// After a successful build the listed items lose `changeBit` (0 clears nothing); when the
// block cannot be had nothing is sent and the bits stay, so the items go with the next period.
void SendDataStream(DeliveryGroup& group, DataStreamFormat format, const StreamItemList& list,
                    WORD changeBit, DWORD transactionId);

// The write-complete stream of the listed items with their write results, to the group's
// write-complete sink, if set.
void SendWriteCompleteStream(DeliveryGroup& group, const OPCHANDLE* handles, DWORD count,
                             DWORD transactionId);
