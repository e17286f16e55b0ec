#include "fake_group.h"

#include "fake_values.h"
#include "opc_error.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace fake {
namespace {

// The client's error array; S_FALSE when any entry failed, as OPC list methods answer.
HRESULT hand_errors(const std::vector<HRESULT>& errors, HRESULT** ppErrors)
{
    HRESULT* out = task_array<HRESULT>(errors.size());
    if (!out) return E_OUTOFMEMORY;
    std::copy(errors.begin(), errors.end(), out);
    *ppErrors = out;
    const bool anyFailed =
        std::any_of(errors.begin(), errors.end(), [](HRESULT e) { return FAILED(e); });
    return anyFailed ? S_FALSE : S_OK;
}

bool valid_source(OPCDATASOURCE source)
{
    return source == OPC_DS_CACHE || source == OPC_DS_DEVICE;
}

}  // namespace

Group::Group(GroupState state) : state_(std::move(state)) {}

Group::~Group()
{
    for (auto& written : written_) VariantClear(&written.second);
}

HRESULT Group::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                        FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                        OPCHANDLE* phServerGroup)
{
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
        !phClientGroup || !phServerGroup) {
        return E_INVALIDARG;
    }
    *ppName = task_string(state_.name);
    if (!*ppName) return E_OUTOFMEMORY;
    *pUpdateRate = state_.updateRate;
    *pActive = state_.active;
    *pTimeBias = state_.timeBias;
    *pPercentDeadband = state_.percentDeadband;
    *pLCID = state_.lcid;
    *phClientGroup = state_.hClientGroup;
    *phServerGroup = state_.hServerGroup;
    return S_OK;
}

HRESULT Group::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive,
                        LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                        OPCHANDLE* phClientGroup)
{
    if (!pRevisedUpdateRate) return E_INVALIDARG;
    if (pRequestedUpdateRate) state_.updateRate = *pRequestedUpdateRate;
    if (pActive) state_.active = *pActive;
    if (pTimeBias) state_.timeBias = *pTimeBias;
    if (pPercentDeadband) state_.percentDeadband = *pPercentDeadband;
    if (pLCID) state_.lcid = *pLCID;
    if (phClientGroup) state_.hClientGroup = *phClientGroup;
    *pRevisedUpdateRate = state_.updateRate;
    return S_OK;
}

HRESULT Group::SetName(LPCWSTR szName)
{
    if (!szName) return E_INVALIDARG;
    state_.name = szName;
    return S_OK;
}

HRESULT Group::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!szName || !ppUnk) return E_INVALIDARG;
    GroupState copy = state_;
    copy.name = szName;
    copy.hServerGroup = state_.hServerGroup + 1;
    return hand_out(new Group(copy), riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT Group::GetState(BOOL* pPublic)
{
    if (!pPublic) return E_INVALIDARG;
    *pPublic = public_;
    return S_OK;
}

HRESULT Group::MoveToPublic()
{
    public_ = TRUE;
    return S_OK;
}

HRESULT Group::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                    OPCITEMSTATE** ppItemValues, HRESULT** ppErrors)
{
    if (!valid_source(dwSource) || !phServer || !ppItemValues || !ppErrors) return E_INVALIDARG;
    OPCITEMSTATE* states = task_array<OPCITEMSTATE>(dwCount);
    if (!states) return E_OUTOFMEMORY;
    std::vector<HRESULT> errors(dwCount, S_OK);
    for (DWORD i = 0; i < dwCount; ++i) {
        const OPCHANDLE h = phServer[i];
        OPCITEMSTATE& state = states[i];
        VariantInit(&state.vDataValue);
        if (h == kBadHandle) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        state.hClient = client_handle_of(h);
        state.ftTimeStamp = timestamp_of(h);
        state.wQuality = quality_of(h);
        const auto written = written_.find(h);
        if (written != written_.end()) {
            errors[i] = VariantCopy(&state.vDataValue, &written->second);
        } else {
            initial_value(h, &state.vDataValue);
        }
    }
    const HRESULT hr = hand_errors(errors, ppErrors);
    if (FAILED(hr)) {
        for (DWORD i = 0; i < dwCount; ++i) VariantClear(&states[i].vDataValue);
        CoTaskMemFree(states);
        return hr;
    }
    *ppItemValues = states;
    return hr;
}

HRESULT Group::write_values(DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* pItemValues,
                            HRESULT** ppErrors)
{
    std::vector<HRESULT> errors(dwCount, S_OK);
    for (DWORD i = 0; i < dwCount; ++i) {
        if (phServer[i] == kBadHandle) {
            errors[i] = OPC_E_INVALIDHANDLE;
            continue;
        }
        VARIANT& kept = written_[phServer[i]];
        VariantClear(&kept);
        errors[i] = VariantCopy(&kept, const_cast<VARIANT*>(&pItemValues[i]));
    }
    return hand_errors(errors, ppErrors);
}

HRESULT Group::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors)
{
    if (!phServer || !pItemValues || !ppErrors) return E_INVALIDARG;
    return write_values(dwCount, phServer, pItemValues, ppErrors);
}

HRESULT Group::Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                    DWORD* pTransactionID, HRESULT** ppErrors)
{
    if (!valid_source(dwSource) || !phServer || !pTransactionID || !ppErrors) return E_INVALIDARG;
    std::vector<HRESULT> errors(dwCount, S_OK);
    for (DWORD i = 0; i < dwCount; ++i) {
        if (phServer[i] == kBadHandle) errors[i] = OPC_E_INVALIDHANDLE;
    }
    const HRESULT hr = hand_errors(errors, ppErrors);
    if (SUCCEEDED(hr)) *pTransactionID = lastTransaction_ = read_transaction(dwConnection, dwCount);
    return hr;
}

HRESULT Group::Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                     DWORD* pTransactionID, HRESULT** ppErrors)
{
    if (!phServer || !pItemValues || !pTransactionID || !ppErrors) return E_INVALIDARG;
    const HRESULT hr = write_values(dwCount, phServer, pItemValues, ppErrors);
    if (SUCCEEDED(hr))
        *pTransactionID = lastTransaction_ = write_transaction(dwConnection, dwCount);
    return hr;
}

HRESULT Group::Refresh(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD* pTransactionID)
{
    if (!valid_source(dwSource) || !pTransactionID) return E_INVALIDARG;
    *pTransactionID = lastTransaction_ = refresh_transaction(dwConnection, dwSource);
    return S_OK;
}

HRESULT Group::Cancel(DWORD dwTransactionID)
{
    return dwTransactionID != 0 && dwTransactionID == lastTransaction_ ? S_OK : E_FAIL;
}

HRESULT Group::describe_item(const OPCITEMDEF& def, OPCHANDLE hServer, bool withBlob,
                             OPCITEMRESULT& result)
{
    if (!def.szItemID || !*def.szItemID) return OPC_E_INVALIDITEMID;
    result.hServer = hServer;
    result.vtCanonicalDataType =
        def.vtRequestedDataType == VT_EMPTY ? VARTYPE{VT_R4} : def.vtRequestedDataType;
    result.dwAccessRights = OPC_READABLE | OPC_WRITEABLE;
    if (withBlob) {
        // The client's blob with one byte appended.
        result.dwBlobSize = def.dwBlobSize + 1;
        result.pBlob = task_array<BYTE>(result.dwBlobSize);
        if (!result.pBlob) return E_OUTOFMEMORY;
        if (def.dwBlobSize) std::memcpy(result.pBlob, def.pBlob, def.dwBlobSize);
        result.pBlob[def.dwBlobSize] = kBlobMark;
    }
    return S_OK;
}

HRESULT Group::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                        HRESULT** ppErrors)
{
    if (!pItemArray || !ppAddResults || !ppErrors) return E_INVALIDARG;
    OPCITEMRESULT* results = task_array<OPCITEMRESULT>(dwCount);
    if (!results) return E_OUTOFMEMORY;
    std::vector<HRESULT> errors(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
        const OPCITEMDEF& def = pItemArray[i];
        const OPCHANDLE hServer = kFirstItemHandle + static_cast<OPCHANDLE>(items_.size());
        errors[i] = describe_item(def, hServer, true, results[i]);
        if (FAILED(errors[i])) continue;
        Item item;
        item.accessPath = def.szAccessPath ? def.szAccessPath : L"";
        item.itemId = def.szItemID;
        item.active = def.bActive;
        item.hClient = def.hClient;
        item.hServer = hServer;
        item.blob.assign(def.pBlob, def.pBlob + def.dwBlobSize);
        item.requestedType = def.vtRequestedDataType;
        item.canonicalType = results[i].vtCanonicalDataType;
        items_.push_back(std::move(item));
    }
    *ppAddResults = results;
    return hand_errors(errors, ppErrors);
}

HRESULT Group::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                             OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors)
{
    if (!pItemArray || !ppValidationResults || !ppErrors) return E_INVALIDARG;
    OPCITEMRESULT* results = task_array<OPCITEMRESULT>(dwCount);
    if (!results) return E_OUTOFMEMORY;
    std::vector<HRESULT> errors(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
        errors[i] = describe_item(pItemArray[i], 0, bBlobUpdate != FALSE, results[i]);
    }
    *ppValidationResults = results;
    return hand_errors(errors, ppErrors);
}

template <class Change>
HRESULT Group::for_each_item(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors,
                             Change change)
{
    std::vector<HRESULT> errors(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) {
        const auto item = std::find_if(items_.begin(), items_.end(),
                                       [&](const Item& it) { return it.hServer == phServer[i]; });
        errors[i] = item == items_.end() ? OPC_E_INVALIDHANDLE : change(item, i);
    }
    return hand_errors(errors, ppErrors);
}

HRESULT Group::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors)
{
    if (!phServer || !ppErrors) return E_INVALIDARG;
    return for_each_item(dwCount, phServer, ppErrors,
                         [this](std::vector<Item>::iterator item, DWORD) {
                             items_.erase(item);
                             return S_OK;
                         });
}

HRESULT Group::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors)
{
    if (!phServer || !ppErrors) return E_INVALIDARG;
    return for_each_item(dwCount, phServer, ppErrors,
                         [bActive](std::vector<Item>::iterator item, DWORD) {
                             item->active = bActive;
                             return S_OK;
                         });
}

HRESULT Group::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                HRESULT** ppErrors)
{
    if (!phServer || !phClient || !ppErrors) return E_INVALIDARG;
    return for_each_item(dwCount, phServer, ppErrors,
                         [phClient](std::vector<Item>::iterator item, DWORD i) {
                             item->hClient = phClient[i];
                             return S_OK;
                         });
}

HRESULT Group::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                            HRESULT** ppErrors)
{
    if (!phServer || !pRequestedDatatypes || !ppErrors) return E_INVALIDARG;
    return for_each_item(dwCount, phServer, ppErrors,
                         [pRequestedDatatypes](std::vector<Item>::iterator item, DWORD i) {
                             const VARTYPE type = pRequestedDatatypes[i];
                             if (type != VT_R4 && type != VT_BOOL && type != VT_BSTR)
                                 return OPC_E_BADTYPE;
                             item->requestedType = type;
                             return S_OK;
                         });
}

HRESULT Group::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!ppUnk) return E_INVALIDARG;
    return make_item_attributes_enumerator(items_, riid, reinterpret_cast<void**>(ppUnk));
}

}  // namespace fake
