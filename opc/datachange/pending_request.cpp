#include "opc/datachange/pending_request.h"

#include <algorithm>

void PendingRequest::Queue(TaskArray<OPCHANDLE> list, DWORD itemCount, DWORD id)
{
    items = std::move(list);
    count = itemCount;
    transactionId = id;
    cancelled = FALSE;
}

void PendingRequest::Reset()
{
    items.reset();
    count = 0;
    cancelled = FALSE;
}

void PendingRequest::ForgetItem(OPCHANDLE handle)
{
    if (!InUse()) return;
    OPCHANDLE* end = std::remove(items.get(), items.get() + count, handle);
    count = static_cast<DWORD>(end - items.get());
    if (count == 0) Reset();
}
