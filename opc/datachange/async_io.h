#pragma once
// IOPCAsyncIO of a group and the requests it queues in the group: at most one read, one write
// and one refresh, each waiting for the next update pass to complete it.
#include <windows.h>

#include "opc/com/interface_part.h"
#include "opc/com/task_array.h"
#include "opc/datachange/delivery_group.h"
#include "opc_da.h"

struct PendingRequest {
    DWORD count = 0;  // items in the list; 0: no request
    BOOL cancelled = FALSE;
    DWORD transactionId = 0;
    // Read and refresh: the source of the latest accepted request, kept when the record is
    // reset; a completion's qualities depend on the read's.
    DWORD source = OPC_DS_CACHE;
    TaskArray<OPCHANDLE> items;  // server handles, in the order the request gave them
    RequestCharge charge;        // on the client's budget until answered

    bool InUse() const { return count != 0; }
    void Queue(TaskArray<OPCHANDLE> list, DWORD itemCount, DWORD id, RequestCharge taken);
    // Idle again; the source stays.
    void Reset();
    // Takes every entry of a removed item out of the list, so that the completion never
    // reaches its slot, which a new item may take; a request left without items is reset.
    void ForgetItem(OPCHANDLE handle);
};

struct PendingRequests {
    PendingRequest read;
    PendingRequest write;
    PendingRequest refresh;

    void ForgetItem(OPCHANDLE handle)
    {
        read.ForgetItem(handle);
        write.ForgetItem(handle);
        refresh.ForgetItem(handle);
    }
};

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
    // validity and, when all are valid, gives the new item list and its charge on the client's
    // budget. On failure nothing is queued.
    HRESULT CheckRequest(const PendingRequest& record, DWORD count, const OPCHANDLE* handles,
                         HRESULT** ppErrors, TaskArray<OPCHANDLE>& list, RequestCharge& charge);
};
