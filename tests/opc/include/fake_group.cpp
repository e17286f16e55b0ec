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

ItemLookup by_handle(const OPCHANDLE* phServer)
{
    return [phServer](DWORD i, OPCHANDLE* h) {
        *h = phServer[i];
        return *h == kBadHandle ? OPC_E_INVALIDHANDLE : S_OK;
    };
}

HRESULT for_each_entry(DWORD count, const ItemLookup& lookup, HRESULT** ppErrors,
                       const std::function<HRESULT(OPCHANDLE h, DWORD i)>& answer)
{
    std::vector<HRESULT> errors(count);
    for (DWORD i = 0; i < count; ++i) {
        OPCHANDLE h = 0;
        errors[i] = lookup(i, &h);
        if (SUCCEEDED(errors[i])) errors[i] = answer(h, i);
    }
    return hand_errors(errors, ppErrors);
}

ItemValues::~ItemValues()
{
    for (auto& written : written_) VariantClear(&written.second.value);
}

HRESULT ItemValues::write(OPCHANDLE h, const VARIANT& value)
{
    if (value.vt == VT_EMPTY) return OPC_E_BADTYPE;
    Written& kept = written_[h];
    VariantClear(&kept.value);
    kept = Written{};
    return VariantCopy(&kept.value, const_cast<VARIANT*>(&value));
}

HRESULT ItemValues::write(OPCHANDLE h, const OPCITEMVQT& vqt)
{
    const HRESULT hr = write(h, vqt.vDataValue);
    if (FAILED(hr)) return hr;
    Written& kept = written_[h];
    kept.hasQuality = vqt.bQualitySpecified != FALSE;
    kept.quality = vqt.wQuality;
    kept.hasTimestamp = vqt.bTimeStampSpecified != FALSE;
    kept.timestamp = vqt.ftTimeStamp;
    return S_OK;
}

HRESULT ItemValues::read(OPCHANDLE h, FILETIME stamp, VARIANT* value, WORD* quality,
                         FILETIME* timestamp) const
{
    *quality = quality_of(h);
    *timestamp = stamp;
    const auto written = written_.find(h);
    if (written == written_.end()) {
        initial_value(h, value);
        return S_OK;
    }
    const Written& kept = written->second;
    if (kept.hasQuality) *quality = kept.quality;
    if (kept.hasTimestamp) *timestamp = kept.timestamp;
    VariantInit(value);
    return VariantCopy(value, const_cast<VARIANT*>(&kept.value));
}

HRESULT ItemValues::read_max_age(DWORD count, const ItemLookup& lookup, const DWORD* maxAges,
                                 VARIANT** ppvValues, WORD** ppwQualities,
                                 FILETIME** ppftTimeStamps, HRESULT** ppErrors) const
{
    VARIANT* values = task_array<VARIANT>(count);
    WORD* qualities = task_array<WORD>(count);
    FILETIME* timestamps = task_array<FILETIME>(count);
    const HRESULT hr =
        values && qualities && timestamps
            ? for_each_entry(count, lookup, ppErrors,
                             [&](OPCHANDLE h, DWORD i) {
                                 return read(h, max_age_timestamp(h, maxAges[i]), &values[i],
                                             &qualities[i], &timestamps[i]);
                             })
            : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
        CoTaskMemFree(values);
        CoTaskMemFree(qualities);
        CoTaskMemFree(timestamps);
        return hr;
    }
    *ppvValues = values;
    *ppwQualities = qualities;
    *ppftTimeStamps = timestamps;
    return hr;
}

Group::Group(GroupState state) : state_(std::move(state)) {}

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

HRESULT Group::SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime)
{
    if (!pdwRevisedKeepAliveTime) return E_INVALIDARG;
    keepAlive_ = *pdwRevisedKeepAliveTime = revised_keep_alive(dwKeepAliveTime);
    return keepAlive_ == dwKeepAliveTime ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT Group::GetKeepAlive(DWORD* pdwKeepAliveTime)
{
    if (!pdwKeepAliveTime) return E_INVALIDARG;
    *pdwKeepAliveTime = keepAlive_;
    return S_OK;
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
        errors[i] = values_.read(h, timestamp_of(h), &state.vDataValue, &state.wQuality,
                                 &state.ftTimeStamp);
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

HRESULT Group::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues, HRESULT** ppErrors)
{
    if (!phServer || !pItemValues || !ppErrors) return E_INVALIDARG;
    return write_values(dwCount, phServer, pItemValues, ppErrors);
}

HRESULT Group::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge, VARIANT** ppvValues,
                          WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors)
{
    if (!phServer || !pdwMaxAge || !ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors)
        return E_INVALIDARG;
    return values_.read_max_age(dwCount, by_handle(phServer), pdwMaxAge, ppvValues, ppwQualities,
                                ppftTimeStamps, ppErrors);
}

HRESULT Group::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                        HRESULT** ppErrors)
{
    if (!phServer || !pItemVQT || !ppErrors) return E_INVALIDARG;
    return write_values(dwCount, phServer, pItemVQT, ppErrors);
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

HRESULT Group::Read(DWORD, OPCHANDLE*, DWORD, DWORD*, HRESULT**)
{
    return E_NOTIMPL;
}

HRESULT Group::Write(DWORD, OPCHANDLE*, VARIANT*, DWORD, DWORD*, HRESULT**)
{
    return E_NOTIMPL;
}

HRESULT Group::Refresh2(OPCDATASOURCE, DWORD, DWORD*)
{
    return E_NOTIMPL;
}

HRESULT Group::Cancel2(DWORD)
{
    return E_NOTIMPL;
}

HRESULT Group::SetEnable(BOOL)
{
    return E_NOTIMPL;
}

HRESULT Group::GetEnable(BOOL*)
{
    return E_NOTIMPL;
}

HRESULT Group::ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge,
                          DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (!phServer || !pdwMaxAge || !pdwCancelID || !ppErrors) return E_INVALIDARG;
    const HRESULT hr = for_each_entry(dwCount, by_handle(phServer), ppErrors,
                                      [](OPCHANDLE, DWORD) { return S_OK; });
    if (SUCCEEDED(hr))
        *pdwCancelID = lastTransaction_ = max_age_cancel_id(dwTransactionID, pdwMaxAge, dwCount);
    return hr;
}

HRESULT Group::WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                        DWORD dwTransactionID, DWORD* pdwCancelID, HRESULT** ppErrors)
{
    if (!phServer || !pItemVQT || !pdwCancelID || !ppErrors) return E_INVALIDARG;
    const HRESULT hr = write_values(dwCount, phServer, pItemVQT, ppErrors);
    if (SUCCEEDED(hr))
        *pdwCancelID = lastTransaction_ = write_transaction(dwTransactionID, dwCount);
    return hr;
}

HRESULT Group::RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID, DWORD* pdwCancelID)
{
    if (!pdwCancelID) return E_INVALIDARG;
    *pdwCancelID = lastTransaction_ = max_age_cancel_id(dwTransactionID, &dwMaxAge, 1);
    return S_OK;
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

HRESULT Group::SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband,
                               HRESULT** ppErrors)
{
    if (!phServer || !pPercentDeadband || !ppErrors) return E_INVALIDARG;
    return for_each_entry(dwCount, by_handle(phServer), ppErrors, [&](OPCHANDLE h, DWORD i) {
        const FLOAT deadband = pPercentDeadband[i];
        if (!(deadband >= 0.0f && deadband <= 100.0f)) return E_INVALIDARG;
        deadbands_[h] = deadband;
        return S_OK;
    });
}

HRESULT Group::GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                               HRESULT** ppErrors)
{
    if (!phServer || !ppPercentDeadband || !ppErrors) return E_INVALIDARG;
    FLOAT* deadbands = task_array<FLOAT>(dwCount);
    if (!deadbands) return E_OUTOFMEMORY;
    const HRESULT hr =
        for_each_entry(dwCount, by_handle(phServer), ppErrors, [&](OPCHANDLE h, DWORD i) {
            const auto set = deadbands_.find(h);
            if (set == deadbands_.end()) return kDeadbandNotSet;
            deadbands[i] = set->second;
            return S_OK;
        });
    if (FAILED(hr)) {
        CoTaskMemFree(deadbands);
        return hr;
    }
    *ppPercentDeadband = deadbands;
    return hr;
}

HRESULT Group::ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors)
{
    if (!phServer || !ppErrors) return E_INVALIDARG;
    return for_each_entry(dwCount, by_handle(phServer), ppErrors, [this](OPCHANDLE h, DWORD) {
        return deadbands_.erase(h) ? S_OK : kDeadbandNotSet;
    });
}

}  // namespace fake
