#pragma once
// The update pass's part for a group's data callback: the data change of each expired period,
// carrying only the items whose value or quality changed since the callback last got them,
// and on every pass the completions of the queued IOPCAsyncIO2 requests, oldest first.
class DeliveryGroup;

// Nothing while the group is inactive, the data change disabled, no sink connected or no item
// owed; the items sent are owed nothing more.
void SendCallbackDataChange(DeliveryGroup& group);
// Every queued request is completed: a cancelled one with OnCancelComplete, a read with
// OnReadComplete, a write with OnWriteComplete, a refresh with OnDataChange carrying its
// transaction ID. All are built before the first call, as the client may queue more from
// within one; a request whose call cannot be built for want of memory waits for the next pass.
void CompleteCallbackRequests(DeliveryGroup& group);
