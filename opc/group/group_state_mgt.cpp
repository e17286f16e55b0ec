#include "opc/group/group_state_mgt.h"

#include <algorithm>
#include <new>

#include "opc/com/global_lock.h"
#include "opc/com/task_memory.h"
#include "opc/items/item_object.h"
#include "opc_error.h"
#include "runtime_link/project_files.h"

DWORD RoundUpdateRate(DWORD requestedMs)
{
    return (requestedMs + 125) / 250 * 250;
}

KeptUpdateRate DeliverableUpdateRate(DWORD requestedMs, DWORD roundedMs)
{
    const DWORD kept = std::max(roundedMs, static_cast<DWORD>(PollTimerPeriod()));
    const bool raisedByFloor = kept != roundedMs && kept != requestedMs;
    return {kept, raisedByFloor ? OPC_S_UNSUPPORTEDRATE : S_OK};
}

KeptUpdateRate KeepAliveTimeKept(DWORD requestedMs)
{
    const unsigned long long period = static_cast<unsigned long long>(PollTimerPeriod());
    unsigned long long kept = (requestedMs + period - 1) / period * period;
    if (kept > MAXDWORD) kept -= period;
    return {static_cast<DWORD>(kept), kept == requestedMs ? S_OK : OPC_S_UNSUPPORTEDRATE};
}

HRESULT GroupStateMgtPart::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                    LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                    OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup)
{
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID ||
        !phClientGroup || !phServerGroup) {
        return E_INVALIDARG;
    }
    const GroupState& state = owner().state;
    *ppName = TaskStringCopy(state.name.get());
    if (!*ppName) return E_OUTOFMEMORY;
    *pUpdateRate = state.updateRate;
    *pActive = state.active;
    *pTimeBias = state.timeBias;
    *pPercentDeadband = state.percentDeadband;
    *pLCID = state.locale;
    *phClientGroup = state.clientHandle;
    *phServerGroup = state.serverHandle;
    return S_OK;
}

HRESULT GroupStateMgtPart::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                    BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                    DWORD* pLCID, OPCHANDLE* phClientGroup)
{
    if (!pRevisedUpdateRate) return E_INVALIDARG;
    GroupState& state = owner().state;
    HRESULT result = S_OK;
    if (pRequestedUpdateRate) {
        const KeptUpdateRate kept =
            DeliverableUpdateRate(*pRequestedUpdateRate, RoundUpdateRate(*pRequestedUpdateRate));
        state.updateRate = kept.rateMs;
        result = kept.result;
    }
    if (pActive) {
        // A group turned active owes its data callback every active item.
        if (!state.active && *pActive) {
            owner().Items().ForEach([](ItemObject& item) { item.MarkOwedToDataCallback(); });
        }
        state.active = *pActive;
    }
    if (phClientGroup) state.clientHandle = *phClientGroup;
    if (pPercentDeadband) state.percentDeadband = *pPercentDeadband;
    if (pLCID) state.locale = *pLCID;
    if (pTimeBias) state.timeBias = *pTimeBias;
    *pRevisedUpdateRate = state.updateRate;
    return result;
}

HRESULT GroupStateMgtPart::SetName(LPCWSTR szName)
{
    if (!szName) return E_INVALIDARG;
    HeapString name = CopyHeapString(szName);
    if (!name) return E_OUTOFMEMORY;  // the old name stays
    owner().state.name = std::move(name);
    return S_OK;
}

HRESULT GroupStateMgtPart::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!szName || !ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    GroupOwner* server = owner().Owner();
    if (!server) return CO_E_OBJNOTCONNECTED;
    const int slot = server->LowestFreeGroupSlot();
    if (slot < 0) return E_OUTOFMEMORY;
    HeapString name = CopyHeapString(szName);
    if (!name) return E_OUTOFMEMORY;
    auto* clone = GroupObject::Create(owner().Session());
    if (!clone) return E_OUTOFMEMORY;
    clone->AddRef();  // the group table's reference
    HRESULT hr = clone->CopyItemsFrom(owner());
    if (SUCCEEDED(hr)) hr = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(hr)) {
        clone->Release();
        return hr;
    }
    server->PlaceGroup(slot, clone);
    const GroupState& source = owner().state;
    GroupState& state = clone->state;
    state.serverHandle = static_cast<OPCHANDLE>(slot);
    state.clientHandle = source.clientHandle;
    state.updateRate = source.updateRate;
    state.timeBias = source.timeBias;
    state.percentDeadband = source.percentDeadband;
    state.locale = source.locale;
    state.active = FALSE;
    state.name = std::move(name);
    clone->Callback().SetKeepAlive(owner().Callback().KeepAlive());
    return S_OK;
}

HRESULT GroupStateMgtPart::SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime)
{
    if (!pdwRevisedKeepAliveTime) return E_INVALIDARG;
    const KeptUpdateRate kept =
        dwKeepAliveTime == 0 ? KeptUpdateRate{0, S_OK} : KeepAliveTimeKept(dwKeepAliveTime);
    GlobalLockScope lock;
    owner().Callback().SetKeepAlive(kept.rateMs);
    *pdwRevisedKeepAliveTime = kept.rateMs;
    return kept.result;
}

HRESULT GroupStateMgtPart::GetKeepAlive(DWORD* pdwKeepAliveTime)
{
    if (!pdwKeepAliveTime) return E_INVALIDARG;
    *pdwKeepAliveTime = owner().Callback().KeepAlive();
    return S_OK;
}
