#include "opc/datachange/data_callback.h"

#include <olectl.h>  // CONNECT_E_NOCONNECTION

#include <algorithm>
#include <new>

#include "opc/com/global_lock.h"
#include "opc/com/task_array.h"
#include "opc/items/item_object.h"
#include "opc_error.h"

DataCallback::DataCallback(DeliveryGroup& group, std::shared_ptr<ClientDelivery> delivery)
    : m_group(group), m_point(group, IID_IOPCDataCallback, *this), m_sink(std::move(delivery))
{
}

HRESULT DataCallback::TakeSink(Microsoft::WRL::ComPtr<IUnknown> sink)
{
    // Held: handing the sink over may call the client, which may let go of the group meanwhile.
    const Microsoft::WRL::ComPtr<DeliveryGroup> keepAlive(&m_group);
    const HRESULT hr = m_sink.Connect(IID_IOPCDataCallback, std::move(sink));
    if (FAILED(hr)) return hr;
    m_group.Items().ForEach([](ItemObject& item) { item.MarkOwedToDataCallback(); });
    return S_OK;
}

DWORD CallbackRequests::Queue(CallbackRequest request)
{
    // 0 is never a cancel ID, so that it cannot name a request.
    DWORD id = m_lastCancelId + 1;
    if (id == 0) ++id;
    request.cancelId = id;
    try {
        m_requests.push_back(std::move(request));
    } catch (const std::bad_alloc&) {
        return 0;
    }
    m_lastCancelId = id;
    return id;
}

bool CallbackRequests::Cancel(DWORD cancelId)
{
    for (CallbackRequest& request : m_requests) {
        if (request.cancelId == cancelId && !request.cancelled) {
            request.cancelled = true;
            return true;
        }
    }
    return false;
}

const CallbackRequest* CallbackRequests::Oldest() const
{
    return m_requests.empty() ? nullptr : &m_requests.front();
}

void CallbackRequests::ForgetItem(OPCHANDLE handle)
{
    for (CallbackRequest& request : m_requests) {
        for (size_t i = request.items.size(); i-- > 0;) {
            if (request.items[i] != handle) continue;
            request.items.erase(request.items.begin() + static_cast<std::ptrdiff_t>(i));
            if (!request.writeResults.empty()) {
                request.writeResults.erase(request.writeResults.begin() +
                                           static_cast<std::ptrdiff_t>(i));
            }
        }
    }
    m_requests.erase(std::remove_if(m_requests.begin(), m_requests.end(),
                                    [](const CallbackRequest& request) {
                                        return request.items.empty() && !request.cancelled;
                                    }),
                     m_requests.end());
}

HRESULT AsyncIO2Part::CheckItems(DWORD count, const OPCHANDLE* handles, HRESULT** ppErrors,
                                 CallbackRequest& request)
{
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(count);
    if (!errors) return E_OUTOFMEMORY;
    const ItemTable& items = owner().Items();
    try {
        request.items.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            const bool valid = items.Find(handles[i]) != nullptr;
            errors[i] = valid ? S_OK : OPC_E_INVALIDHANDLE;
            if (valid) request.items.push_back(handles[i]);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *ppErrors = errors.release();
    return request.items.size() == count ? S_OK : S_FALSE;
}

HRESULT AsyncIO2Part::QueueRequest(CallbackRequest request, HRESULT checked, DWORD* pdwCancelID)
{
    // With every item refused nothing is queued: no completion will come.
    if (request.items.empty()) return checked;
    const DWORD cancelId = owner().CallbackQueue().Queue(std::move(request));
    if (cancelId == 0) return E_OUTOFMEMORY;
    *pdwCancelID = cancelId;
    return checked;
}

HRESULT AsyncIO2Part::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                           DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (pdwCancelID) *pdwCancelID = 0;
    if (dwCount == 0 || !phServer || !pdwCancelID || !ppErrors) return E_INVALIDARG;
    GlobalLockScope lock;
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    if (owner().CallbacksBacklogged()) return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    CallbackRequest request;
    request.kind = CallbackRequestKind::Read;
    request.transactionId = dwTransactionID;
    request.source = OPC_DS_DEVICE;
    const HRESULT checked = CheckItems(dwCount, phServer, ppErrors, request);
    if (FAILED(checked)) return checked;
    const HRESULT queued = QueueRequest(std::move(request), checked, pdwCancelID);
    if (FAILED(queued)) {
        CoTaskMemFree(*ppErrors);
        *ppErrors = nullptr;
    }
    return queued;
}

HRESULT AsyncIO2Part::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                            DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (pdwCancelID) *pdwCancelID = 0;
    if (dwCount == 0 || !phServer || !pItemValues || !pdwCancelID || !ppErrors) {
        return E_INVALIDARG;
    }
    GlobalLockScope lock;
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    if (owner().CallbacksBacklogged()) return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    CallbackRequest request;
    request.kind = CallbackRequestKind::Write;
    request.transactionId = dwTransactionID;
    const HRESULT checked = CheckItems(dwCount, phServer, ppErrors, request);
    if (FAILED(checked)) return checked;
    try {
        request.writeResults.assign(request.items.size(), S_OK);
    } catch (const std::bad_alloc&) {
        CoTaskMemFree(*ppErrors);
        *ppErrors = nullptr;
        return E_OUTOFMEMORY;
    }
    const HRESULT queued = QueueRequest(std::move(request), checked, pdwCancelID);
    if (FAILED(queued)) {
        CoTaskMemFree(*ppErrors);
        *ppErrors = nullptr;
        return queued;
    }
    if (*pdwCancelID == 0) return queued;  // every handle refused: nothing to write
    // Queued first, so that nothing is written for a request that could not be kept. The
    // values are applied now, in the request's order; IOPCAsyncIO's write results are left
    // as they are.
    CallbackRequest& written = owner().CallbackQueue().Newest();
    ItemTable& items = owner().Items();
    size_t next = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        if ((*ppErrors)[i] != S_OK) continue;
        written.writeResults[next++] = items.Find(phServer[i])->Write(pItemValues[i]);
    }
    return queued;
}

HRESULT AsyncIO2Part::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID)
{
    if (pdwCancelID) *pdwCancelID = 0;
    if (!pdwCancelID) return E_INVALIDARG;
    if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
    GlobalLockScope lock;
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    if (!owner().IsActive()) return E_FAIL;
    if (owner().CallbacksBacklogged()) return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    CallbackRequest request;
    request.kind = CallbackRequestKind::Refresh;
    request.transactionId = dwTransactionID;
    request.source = static_cast<DWORD>(dwSource);
    try {
        owner().Items().ForEach([&request](const ItemObject& item) {
            if (item.Active()) request.items.push_back(item.ServerHandle());
        });
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (request.items.empty()) return E_FAIL;
    return QueueRequest(std::move(request), S_OK, pdwCancelID);
}

HRESULT AsyncIO2Part::Cancel2(DWORD dwCancelID)
{
    return owner().CallbackQueue().Cancel(dwCancelID) ? S_OK : E_FAIL;
}

HRESULT AsyncIO2Part::SetEnable(BOOL bEnable)
{
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    owner().Callback().enabled = bEnable != FALSE;
    return S_OK;
}

HRESULT AsyncIO2Part::GetEnable(BOOL* pbEnable)
{
    if (!pbEnable) return E_INVALIDARG;
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    *pbEnable = owner().Callback().enabled ? TRUE : FALSE;
    return S_OK;
}
