#include "opc/group/group_state_mgt.h"

#include <algorithm>
#include <new>

#include "opc/com/task_memory.h"
#include "opc/items/item_object.h"
#include "runtime_link/project_files.h"

DWORD RoundUpdateRate(DWORD requestedMs)
{
    return (requestedMs + 125) / 250 * 250;
}

DWORD DeliverableUpdateRate(DWORD rateMs)
{
    return std::max(rateMs, static_cast<DWORD>(PollTimerPeriod()));
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
    *pUpdateRate = state.updateRate;
    *pActive = state.active;
    *ppName = TaskStringCopy(state.name.get());  // null when it cannot be had: still S_OK
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
    if (pRequestedUpdateRate) {
        state.updateRate = DeliverableUpdateRate(RoundUpdateRate(*pRequestedUpdateRate));
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
    return S_OK;
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
    return S_OK;
}
