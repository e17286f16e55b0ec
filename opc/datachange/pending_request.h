#pragma once
// A group's queued asynchronous requests: at most one read, one write and one refresh, each
// waiting for the next update pass to complete it.
#include <windows.h>

#include "opc/com/task_array.h"
#include "opc_da.h"

struct PendingRequest {
    DWORD count = 0;  // items in the list; 0: no request
    BOOL cancelled = FALSE;
    DWORD transactionId = 0;
    // Read and refresh: the source of the latest accepted request, kept when the record is
    // reset; a completion's qualities depend on the read's.
    DWORD source = OPC_DS_CACHE;
    TaskArray<OPCHANDLE> items;  // server handles, in the order the request gave them

    bool InUse() const { return count != 0; }
    void Queue(TaskArray<OPCHANDLE> list, DWORD itemCount, DWORD id);
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
