#pragma once
// A group's queued IOPCAsyncIO2 requests, apart from IOPCAsyncIO's records: any number of
// reads, writes and refreshes, completed in the order they came by the next update pass
// through the group's data callback. Each carries the client's transaction ID, echoed in its
// completion, and the cancel ID the group gave it.
#include <windows.h>

#include <deque>
#include <vector>

#include "opc_da.h"

enum class CallbackRequestKind { Read, Write, Refresh };

struct CallbackRequest {
    CallbackRequestKind kind = CallbackRequestKind::Read;
    DWORD transactionId = 0;  // the client's
    DWORD cancelId = 0;       // the group's, never 0
    DWORD source = OPC_DS_DEVICE;
    bool cancelled = false;             // completed with OnCancelComplete instead
    std::vector<OPCHANDLE> items;       // server handles, in the order the request gave them
    std::vector<HRESULT> writeResults;  // Write: each item's result, made at the call
};

class CallbackRequests {
public:
    // Gives the request its cancel ID and queues it; 0 when memory is short (nothing queued).
    DWORD Queue(CallbackRequest request);
    // Marks the waiting request with that cancel ID cancelled; false when there is none.
    bool Cancel(DWORD cancelId);
    // The oldest waiting request, or null.
    const CallbackRequest* Oldest() const;
    void DropOldest() { m_requests.pop_front(); }
    // The request queued last; only while one waits.
    CallbackRequest& Newest() { return m_requests.back(); }
    bool Empty() const { return m_requests.empty(); }
    // Takes every entry of a removed item out of the requests, so that no completion reaches
    // its slot, which a new item may take; a request left without items is dropped (a
    // cancelled one stays: its client waits for OnCancelComplete).
    void ForgetItem(OPCHANDLE handle);

private:
    std::deque<CallbackRequest> m_requests;
    DWORD m_lastCancelId = 0;
};
