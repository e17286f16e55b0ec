#pragma once
#include "opc/com/interface_part.h"
#include "opc/datachange/callback_requests.h"
#include "opc/datachange/delivery_group.h"
#include "opc_da.h"

// IOPCAsyncIO2 of a group: reads, writes and refreshes queued in the group's own
// CallbackRequests (IOPCAsyncIO's records are not touched), completed by the next update pass
// through the group's data callback, which must be connected when a request is made. The
// client's transaction ID comes back in the completion; the cancel ID is the group's.
class AsyncIO2Part final : public InterfacePart<IOPCAsyncIO2, DeliveryGroup> {
public:
    using InterfacePart::InterfacePart;

    // Always from the device: every item is read as it is when the request completes.
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                   DWORD* pdwCancelID, HRESULT** ppErrors) override;
    // The values are written at once; each item's result comes with OnWriteComplete.
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    DWORD dwTransactionID, DWORD* pdwCancelID,
                                    HRESULT** ppErrors) override;
    // Every active item of an active group, sent with OnDataChange; E_FAIL when there is none.
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                       DWORD* pdwCancelID) override;
    // E_FAIL for a cancel ID that names no waiting request.
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;

private:
    // Read and Write up to the queueing: fills *ppErrors with each handle's validity and
    // `request.items` with the valid ones; S_FALSE when some are invalid.
    HRESULT CheckItems(DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors,
                       CallbackRequest& request);
    // Queues the checked request; `checked` is CheckItems' result, returned when it is queued.
    HRESULT QueueRequest(CallbackRequest request, HRESULT checked, DWORD* pdwCancelID);
};
