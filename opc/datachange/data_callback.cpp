#include "opc/datachange/data_callback.h"

#include <olectl.h>  // CONNECT_E_NOCONNECTION

#include <algorithm>
#include <new>

#include "opc/com/global_lock.h"
#include "opc/com/task_array.h"
#include "opc/datachange/update_pass.h"
#include "opc/items/item_object.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_value.h"
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
    m_quietSinceMs = 0;
    m_newSink = true;
    return S_OK;
}

void DataCallback::SendKeepAliveWhenQuiet(unsigned long long passMs, int32_t pollPeriodMs,
                                          bool sending, OPCHANDLE hGroup)
{
    const bool sentSinceLastLook = m_sentSinceLastLook;
    m_sentSinceLastLook = false;
    if (!sending || m_keepAliveMs == 0 || !Connected()) {
        m_quietSinceMs = 0;
        return;
    }
    // A clock set back restarts the quiet time too.
    if (sentSinceLastLook || m_quietSinceMs == 0 || passMs < m_quietSinceMs) {
        m_quietSinceMs = passMs;
        return;
    }
    const unsigned long long jitter = static_cast<unsigned long long>(pollPeriodMs) / 2;
    if (passMs - m_quietSinceMs + jitter < m_keepAliveMs) return;
    std::unique_ptr<DataCallbackCall> keepAlive(new (std::nothrow) DataCallbackCall(
        DataCallbackKind::DataChange, 0, hGroup, std::vector<CallbackItem>{}));
    if (!keepAlive) return;  // the next pass tries again
    m_quietSinceMs = passMs;
    m_sink.Send(std::move(keepAlive));
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

size_t RequestAnswerBytes(size_t items)
{
    return sizeof(CallbackRequest) + sizeof(DataCallbackCall) +
           items * (sizeof(RequestedItem) + sizeof(CallbackItem) + sizeof(HRESULT) + sizeof(DWORD));
}

HRESULT AsyncIO3Part::CheckItems(DWORD count, const OPCHANDLE* handles, const OPCITEMVQT* vqts,
                                 HRESULT** ppErrors, CallbackRequest& request)
{
    if (!owner().InServerTable()) return CO_E_OBJNOTCONNECTED;
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    // Every handle is weighed against the client's budget before anything is allocated; the
    // request keeps the charge of the accepted ones.
    if (!owner().ChargeRequest(RequestAnswerBytes(count))) {
        return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    }
    TaskArray<HRESULT> errors = AllocateTaskArray<HRESULT>(count);
    if (!errors) return E_OUTOFMEMORY;
    const ItemTable& items = owner().Items();
    try {
        request.items.reserve(count);
        for (DWORD i = 0; i < count; ++i) {
            const ItemObject* item = items.Find(handles[i]);
            errors[i] = item ? S_OK : OPC_E_INVALIDHANDLE;
            if (errors[i] == S_OK && vqts) errors[i] = VqtWritable(vqts[i]);
            if (errors[i] == S_OK) {
                request.items.push_back({handles[i], item->ClientHandle(), item->Serial()});
            }
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    request.charge = owner().ChargeRequest(RequestAnswerBytes(request.items.size()));
    if (!request.charge) return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    *ppErrors = errors.release();
    return request.items.size() == count ? S_OK : S_FALSE;
}

HRESULT AsyncIO3Part::QueueRequest(CallbackRequest request, HRESULT checked, DWORD* pdwCancelID)
{
    // With every item refused nothing is queued: no completion will come.
    if (request.items.empty()) return checked;
    const DWORD cancelId = owner().CallbackQueue().Queue(std::move(request));
    if (cancelId == 0) return E_OUTOFMEMORY;
    *pdwCancelID = cancelId;
    AnswerPromptly(owner());
    return checked;
}

HRESULT AsyncIO3Part::QueueRead(DWORD count, const OPCHANDLE* handles, const DWORD* maxAges,
                                DWORD transactionId, DWORD* pdwCancelID, HRESULT** ppErrors)
{
    GlobalLockScope lock;
    CallbackRequest request;
    request.kind = CallbackRequestKind::Read;
    request.transactionId = transactionId;
    request.source = OPC_DS_DEVICE;
    const HRESULT checked = CheckItems(count, handles, nullptr, ppErrors, request);
    if (FAILED(checked)) return checked;
    HRESULT queued = E_OUTOFMEMORY;
    try {
        for (DWORD i = 0; maxAges && i < count; ++i) {
            if ((*ppErrors)[i] == S_OK) request.maxAges.push_back(maxAges[i]);
        }
        queued = QueueRequest(std::move(request), checked, pdwCancelID);
    } catch (const std::bad_alloc&) {
    }
    if (FAILED(queued)) {
        CoTaskMemFree(*ppErrors);
        *ppErrors = nullptr;
    }
    return queued;
}

HRESULT AsyncIO3Part::QueueWrite(DWORD count, const OPCHANDLE* handles, const VARIANT* values,
                                 const OPCITEMVQT* vqts, DWORD transactionId, DWORD* pdwCancelID,
                                 HRESULT** ppErrors)
{
    GlobalLockScope lock;
    CallbackRequest request;
    request.kind = CallbackRequestKind::Write;
    request.transactionId = transactionId;
    const HRESULT checked = CheckItems(count, handles, vqts, ppErrors, request);
    if (FAILED(checked)) return checked;
    HRESULT queued = E_OUTOFMEMORY;
    try {
        request.writeResults.assign(request.items.size(), S_OK);
        queued = QueueRequest(std::move(request), checked, pdwCancelID);
    } catch (const std::bad_alloc&) {
    }
    if (FAILED(queued)) {
        CoTaskMemFree(*ppErrors);
        *ppErrors = nullptr;
        return queued;
    }
    if (*pdwCancelID == 0) return queued;  // every item refused: nothing to write
    // Queued first, so that nothing is written for a request that could not be kept. The
    // values are applied now, in the request's order, and posted into their tags' mirror
    // entries at once: the completion, made once this call has returned, reports a value the
    // next poll cycle takes to the Viewer. IOPCAsyncIO's write results are left as they are.
    CallbackRequest& written = owner().CallbackQueue().Newest();
    ItemTable& items = owner().Items();
    size_t next = 0;
    for (DWORD i = 0; i < count; ++i) {
        if ((*ppErrors)[i] != S_OK) continue;
        const VARIANT& value = values ? values[i] : vqts[i].vDataValue;
        ItemObject& item = *items.Find(handles[i]);
        written.writeResults[next++] = item.Write(value);
        item.PostPendingWrite();
    }
    return queued;
}

HRESULT AsyncIO3Part::QueueRefresh(DWORD source, const DWORD* maxAge, DWORD transactionId,
                                   DWORD* pdwCancelID)
{
    GlobalLockScope lock;
    if (!owner().InServerTable()) return CO_E_OBJNOTCONNECTED;
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    if (!owner().IsActive()) return E_FAIL;
    CallbackRequest request;
    request.kind = CallbackRequestKind::Refresh;
    request.transactionId = transactionId;
    request.source = source;
    size_t active = 0;
    owner().Items().ForEach([&active](const ItemObject& item) {
        if (item.Active()) ++active;
    });
    if (active == 0) return E_FAIL;
    request.charge = owner().ChargeRequest(RequestAnswerBytes(active));
    if (!request.charge) return OPC_SERVER_E_CALLBACKS_BACKLOGGED;
    try {
        request.items.reserve(active);
        owner().Items().ForEach([&request](const ItemObject& item) {
            if (item.Active()) {
                request.items.push_back({item.ServerHandle(), item.ClientHandle(), item.Serial()});
            }
        });
        if (maxAge) request.maxAges.assign(request.items.size(), *maxAge);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return QueueRequest(std::move(request), S_OK, pdwCancelID);
}

HRESULT AsyncIO3Part::Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                           DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (pdwCancelID) *pdwCancelID = 0;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pdwCancelID || !ppErrors)
        return E_INVALIDARG;
    return QueueRead(dwCount, phServer, nullptr, dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT AsyncIO3Part::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                            DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (pdwCancelID) *pdwCancelID = 0;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pItemValues || !pdwCancelID ||
        !ppErrors) {
        return E_INVALIDARG;
    }
    return QueueWrite(dwCount, phServer, pItemValues, nullptr, dwTransactionID, pdwCancelID,
                      ppErrors);
}

HRESULT AsyncIO3Part::Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID, DWORD* pdwCancelID)
{
    if (pdwCancelID) *pdwCancelID = 0;
    if (!pdwCancelID) return E_INVALIDARG;
    if (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE) return E_INVALIDARG;
    return QueueRefresh(static_cast<DWORD>(dwSource), nullptr, dwTransactionID, pdwCancelID);
}

HRESULT AsyncIO3Part::Cancel2(DWORD dwCancelID)
{
    return owner().CallbackQueue().Cancel(dwCancelID) ? S_OK : E_FAIL;
}

HRESULT AsyncIO3Part::SetEnable(BOOL bEnable)
{
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    owner().Callback().enabled = bEnable != FALSE;
    return S_OK;
}

HRESULT AsyncIO3Part::GetEnable(BOOL* pbEnable)
{
    if (!pbEnable) return E_INVALIDARG;
    if (!owner().Callback().Connected()) return CONNECT_E_NOCONNECTION;
    *pbEnable = owner().Callback().enabled ? TRUE : FALSE;
    return S_OK;
}

HRESULT AsyncIO3Part::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge,
                                 DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (pdwCancelID) *pdwCancelID = 0;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pdwMaxAge || !pdwCancelID ||
        !ppErrors) {
        return E_INVALIDARG;
    }
    return QueueRead(dwCount, phServer, pdwMaxAge, dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT AsyncIO3Part::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                               DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (ppErrors) *ppErrors = nullptr;
    if (pdwCancelID) *pdwCancelID = 0;
    if (dwCount == 0 || dwCount > kMaxListEntries || !phServer || !pItemVQT || !pdwCancelID ||
        !ppErrors) {
        return E_INVALIDARG;
    }
    return QueueWrite(dwCount, phServer, nullptr, pItemVQT, dwTransactionID, pdwCancelID, ppErrors);
}

HRESULT AsyncIO3Part::RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID)
{
    if (pdwCancelID) *pdwCancelID = 0;
    if (!pdwCancelID) return E_INVALIDARG;
    return QueueRefresh(OPC_DS_DEVICE, &dwMaxAge, dwTransactionID, pdwCancelID);
}
