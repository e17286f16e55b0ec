#pragma once
#include "opc/com/interface_part.h"
#include "opc/com/task_array.h"
#include "opc/datachange/delivery_group.h"
#include "opc_da.h"

// IOPCAsyncIO of a group: reads, writes and refreshes queued in the group, at most one of each
// kind, and completed through the group's advise sinks by the next update pass. Transaction
// IDs come from the group's server object, so a group whose server is gone takes no request.
class AsyncIOPart final : public InterfacePart<IOPCAsyncIO, DeliveryGroup> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                   OPCHANDLE* phServer, DWORD* pTransactionID,
                                   HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                    VARIANT* pItemValues, DWORD* pTransactionID,
                                    HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                      DWORD* pTransactionID) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) override;

private:
    // Read and Write up to the queueing: checks the request, fills *ppErrors with each handle's
    // validity and, when all are valid, gives the new item list. On failure nothing is queued.
    HRESULT CheckRequest(const PendingRequest& record, DWORD count, const OPCHANDLE* handles,
                         HRESULT** ppErrors, TaskArray<OPCHANDLE>& list);
};
