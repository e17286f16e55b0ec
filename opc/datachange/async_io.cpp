#include "opc/datachange/async_io.h"

#include <olectl.h>  // CONNECT_E_ADVISELIMIT

#include <algorithm>

#include "opc/com/global_lock.h"
#include "opc/datachange/data_callback.h"
#include "opc/items/item_object.h"
#include "opc/values/call_limits.h"
#include "opc_error.h"

HRESULT AsyncIOPart::CheckRequest(const PendingRequest& record, DWORD count,
                                  const OPCHANDLE* handles, HRESULT** ppErrors,
                                  TaskArray<OPCHANDLE>& list, RequestCharge& charge)
{
    if (record.InUse()) return CONNECT_E_ADVISELIMIT;
    // No update pass would complete it, and the transaction ID comes from the server object.
    if (!owner().InServerTable()) return CO_E_OBJNOTCONNECTED;
    charge = owner().ChargeRequest(RequestAnswerBytes(count));
    if (!charge) return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(count);
    if (!errors) return E_OUTOFMEMORY;
    list = AllocateTaskArray<OPCHANDLE>(count);
    if (!list) return E_OUTOFMEMORY;
    bool allValid = true;
    const ItemTable& items = owner().Items();
    for (DWORD i = 0; i < count; ++i) {
        const bool valid = items.Find(handles[i]) != nullptr;
        errors[i] = valid ? S_OK : OPC_E_INVALIDHANDLE;
        allValid = allValid && valid;
    }
    // The errors go to the client in every case; they say which handles were wrong.
    *ppErrors = errors.release();
    if (!allValid) {
        list.reset();
        return OPC_E_INVALIDHANDLE;
    }
    std::copy(handles, handles + count, list.get());
    return S_OK;
}

HRESULT AsyncIOPart::Read(DWORD /*dwConnection*/, OPCDATASOURCE dwSource, DWORD dwCount,
                          OPCHANDLE* phServer, DWORD* pTransactionID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pTransactionID || !ppErrors)
        return E_INVALIDARG;
    GlobalLockScope lock;
    PendingRequest& read = owner().Requests().read;
    TaskArray<OPCHANDLE> list;
    RequestCharge charge;
    const HRESULT checked = CheckRequest(read, dwCount, phServer, ppErrors, list, charge);
    if (FAILED(checked)) return checked;
    const DWORD id = owner().NextTransactionId();
    read.Queue(std::move(list), dwCount, id, std::move(charge));
    // The source is taken as given; anything but OPC_DS_CACHE reads as the device does.
    read.source = static_cast<DWORD>(dwSource);
    *pTransactionID = id;
    return S_OK;
}

HRESULT AsyncIOPart::Write(DWORD /*dwConnection*/, DWORD dwCount, OPCHANDLE* phServer,
                           VARIANT* pItemValues, DWORD* pTransactionID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pTransactionID || !pItemValues ||
        !ppErrors) {
        return E_INVALIDARG;
    }
    GlobalLockScope lock;
    PendingRequest& write = owner().Requests().write;
    TaskArray<OPCHANDLE> list;
    RequestCharge charge;
    const HRESULT checked = CheckRequest(write, dwCount, phServer, ppErrors, list, charge);
    if (FAILED(checked)) return checked;
    // The values are applied now; each item keeps its result for the write-complete stream.
    ItemTable& items = owner().Items();
    for (DWORD i = 0; i < dwCount; ++i) items.Find(phServer[i])->WriteAsync(pItemValues[i]);
    const DWORD id = owner().NextTransactionId();
    write.Queue(std::move(list), dwCount, id, std::move(charge));
    *pTransactionID = id;
    return S_OK;
}

HRESULT AsyncIOPart::Refresh(DWORD /*dwConnection*/, OPCDATASOURCE dwSource, DWORD* pTransactionID)
{
    // Never written through a null pointer; a remote client cannot pass one anyway.
    if (!pTransactionID) return E_INVALIDARG;
    GlobalLockScope lock;
    DWORD count = 0;
    if (owner().IsActive()) {
        owner().Items().ForEach([&count](const ItemObject& item) {
            if (item.Active()) ++count;
        });
    }
    if (count == 0) return E_FAIL;
    if (!owner().InServerTable()) return CO_E_OBJNOTCONNECTED;
    RequestCharge charge = owner().ChargeRequest(RequestAnswerBytes(count));
    if (!charge) return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    TaskArray<OPCHANDLE> list = AllocateTaskArray<OPCHANDLE>(count);
    if (!list) return E_OUTOFMEMORY;
    DWORD filled = 0;
    owner().Items().ForEach([&](const ItemObject& item) {
        if (item.Active()) list[filled++] = item.ServerHandle();
    });
    // A pending refresh is replaced, never delivered: its charge goes with it.
    PendingRequest& refresh = owner().Requests().refresh;
    const DWORD id = owner().NextTransactionId();
    refresh.Queue(std::move(list), count, id, std::move(charge));
    refresh.source = static_cast<DWORD>(dwSource);
    *pTransactionID = id;
    return S_OK;
}

HRESULT AsyncIOPart::Cancel(DWORD dwTransactionID)
{
    PendingRequests& requests = owner().Requests();
    for (PendingRequest* request : {&requests.read, &requests.write, &requests.refresh}) {
        if (request->InUse() && request->transactionId == dwTransactionID) {
            request->cancelled = TRUE;
            return S_OK;
        }
    }
    return E_FAIL;
}

void PendingRequest::Queue(TaskArray<OPCHANDLE> list, DWORD itemCount, DWORD id,
                           RequestCharge taken)
{
    items = std::move(list);
    charge = std::move(taken);
    count = itemCount;
    transactionId = id;
    cancelled = FALSE;
}

void PendingRequest::Reset()
{
    items.reset();
    charge.Release();
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
