#include "opc/server/server_part.h"

#include <wrl/client.h>

#include <cwchar>
#include <iterator>
#include <new>
#include <string>

#include "opc/com/error_text.h"
#include "opc/com/global_lock.h"
#include "opc/com/task_memory.h"
#include "opc/group/group_object.h"
#include "opc/group/group_state_mgt.h"
#include "opc/server/com_server_lifetime.h"
#include "opc/server/object_enumerator.h"
#include "opc/server/string_enumerator.h"
#include "opc_error.h"

namespace {

constexpr wchar_t kVendorInfo[] = L"Parhelionix";
constexpr WORD kMajorVersion = SERVER_VERSION_MAJOR;
constexpr WORD kMinorVersion = SERVER_VERSION_MINOR;
constexpr WORD kBuildNumber = SERVER_VERSION_BUILD;
constexpr WORD kReserved = 42;

}  // namespace

HRESULT ServerPart::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                             OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                             DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                             REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!ppUnk || !phServerGroup) return E_INVALIDARG;
    *ppUnk = nullptr;
    GroupTable& groups = owner().Groups();
    const int slot = groups.LowestFreeSlot();
    if (slot < 0) return E_OUTOFMEMORY;  // a full table is reported as out of memory

    // An unnamed group is named after its slot.
    wchar_t slotName[4];
    std::swprintf(slotName, std::size(slotName), L"%d", slot);
    const wchar_t* name = szName ? szName : slotName;
    if (groups.FindByName(name)) return OPC_E_DUPLICATENAME;

    HeapString nameCopy = CopyHeapString(name);
    if (!nameCopy) return E_OUTOFMEMORY;
    auto* group = GroupObject::Create(owner().Session());
    if (!group) return E_OUTOFMEMORY;
    group->AddRef();  // the group table's reference
    const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(hr)) {
        group->Release();
        return hr;
    }
    groups.Place(slot, group);

    GroupState& state = group->state;
    state.serverHandle = static_cast<OPCHANDLE>(slot);
    state.clientHandle = hClientGroup;
    // Kept as asked, unless it is faster than the poll cycle delivers.
    state.updateRate = DeliverableUpdateRate(dwRequestedUpdateRate);
    state.active = bActive;
    state.name = std::move(nameCopy);
    state.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
    state.locale = dwLCID;
    state.timeBias = pTimeBias ? *pTimeBias : 0;

    *phServerGroup = state.serverHandle;
    if (pRevisedUpdateRate) *pRevisedUpdateRate = state.updateRate;
    return S_OK;
}

HRESULT ServerPart::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString)
{
    if (!ppString) return E_INVALIDARG;
    return TaskErrorString(dwError, dwLocale, ppString);
}

HRESULT ServerPart::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!szName || !ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    GroupObject* group = owner().Groups().FindByName(szName);
    if (!group) return E_FAIL;
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT ServerPart::GetStatus(OPCSERVERSTATUS** ppServerStatus)
{
    if (!ppServerStatus) return E_INVALIDARG;
    auto* status = static_cast<OPCSERVERSTATUS*>(TaskAllocate(sizeof(OPCSERVERSTATUS)));
    if (!status) return E_OUTOFMEMORY;
    *status = OPCSERVERSTATUS{};
    status->szVendorInfo = TaskStringCopy(kVendorInfo);
    status->ftStartTime = g_serverStartTime;
    CoFileTimeNow(&status->ftCurrentTime);
    status->ftLastUpdateTime = owner().CreationTime();
    status->dwServerState = OPC_STATUS_RUNNING;
    status->dwGroupCount = owner().Groups().Count();
    status->dwBandWidth = 0;
    status->wMajorVersion = kMajorVersion;
    status->wMinorVersion = kMinorVersion;
    status->wBuildNumber = kBuildNumber;
    status->wReserved = kReserved;
    *ppServerStatus = status;
    return S_OK;
}

HRESULT ServerPart::RemoveGroup(OPCHANDLE hServerGroup, BOOL /*bForce*/)
{
    // bForce changes nothing: a group the client still holds lives on outside the table.
    GroupTable& groups = owner().Groups();
    const int slot = groups.FindByServerHandle(hServerGroup);
    if (slot < 0) return E_FAIL;
    GlobalLockScope lock;
    // The client may release its server object from within the group's destruction; the
    // object outlives this call.
    const Microsoft::WRL::ComPtr<ServerObject> keepAlive(&owner());
    groups.Remove(slot);
    return S_OK;
}

HRESULT ServerPart::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    IUnknown* server = &owner();
    void** out = reinterpret_cast<void**>(ppUnk);
    const GroupList list = owner().Groups().List(dwScope);
    if (riid == IID_IEnumUnknown) return CreateGroupObjectEnumerator(server, list, riid, out);
    if (riid == IID_IEnumString) {
        const wchar_t* names[kGroupSlots];
        for (ULONG i = 0; i < list.count; ++i) names[i] = list.groups[i]->state.name.get();
        return StringEnumerator::Create(server, list.count, names, riid, out);
    }
    return E_INVALIDARG;
}
