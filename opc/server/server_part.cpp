#include "opc/server/server_part.h"

#include <wrl/client.h>

#include <cwchar>
#include <iterator>
#include <new>
#include <string>
#include <vector>

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

// The name an unnamed group in `slot` gets: the slot's number, with a count after it when a
// client has named another group so. N groups hold at most N names, so the loop ends within
// N + 1 tries.
void NameOfUnnamedGroup(const GroupTable& groups, int slot, wchar_t (&name)[16])
{
    std::swprintf(name, std::size(name), L"%d", slot);
    for (int count = 1; groups.FindByName(name); ++count)
        std::swprintf(name, std::size(name), L"%d_%d", slot, count);
}

// Whether anything besides the group table holds the group: its client, an object it got from
// the group, or a call in progress.
bool HeldBeyondTable(GroupObject& group)
{
    const ULONG count = group.AddRef();
    group.Release();
    return count > 2;
}

}  // namespace

HRESULT ServerPart::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                             OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                             DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                             REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!ppUnk || !phServerGroup) return E_INVALIDARG;
    *ppUnk = nullptr;
    GroupTable& groups = owner().Groups();
    const int slot = owner().LowestFreeGroupSlot();
    if (slot < 0) return E_OUTOFMEMORY;  // a full table is reported as out of memory

    // Many clients pass "" for "no name".
    wchar_t madeName[16];
    const bool unnamed = !szName || !*szName;
    if (unnamed) NameOfUnnamedGroup(groups, slot, madeName);
    const wchar_t* name = unnamed ? madeName : szName;
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
    const KeptUpdateRate rate = DeliverableUpdateRate(dwRequestedUpdateRate, dwRequestedUpdateRate);
    state.updateRate = rate.rateMs;
    state.active = bActive;
    state.name = std::move(nameCopy);
    state.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
    state.locale = dwLCID;
    state.timeBias = pTimeBias ? *pTimeBias : 0;

    *phServerGroup = state.serverHandle;
    if (pRevisedUpdateRate) *pRevisedUpdateRate = state.updateRate;
    SUPPORT_TRACE(owner().TraceIdentity(), rate.result, "group %u added, update rate %lu ms",
                  static_cast<unsigned>(state.serverHandle),
                  static_cast<unsigned long>(state.updateRate));
    return rate.result;
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

HRESULT ServerPart::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce)
{
    // Forced or not, the group leaves the table: one the client still holds lives on outside
    // it until released, and without force the client is told so.
    GroupTable& groups = owner().Groups();
    const int slot = groups.FindByServerHandle(hServerGroup);
    if (slot < 0) return E_FAIL;
    GlobalLockScope lock;
    const HRESULT result = !bForce && HeldBeyondTable(groups.At(slot)) ? OPC_S_INUSE : S_OK;
    // The client may release its server object from within the group's destruction; the
    // object outlives this call.
    const Microsoft::WRL::ComPtr<ServerObject> keepAlive(&owner());
    groups.Remove(slot);
    SUPPORT_TRACE(owner().TraceIdentity(), result, "group %u removed%s",
                  static_cast<unsigned>(hServerGroup),
                  result == OPC_S_INUSE ? " (the client still holds it)" : "");
    return result;
}

HRESULT ServerPart::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    IUnknown* server = &owner();
    void** out = reinterpret_cast<void**>(ppUnk);
    if (riid != IID_IEnumUnknown && riid != IID_IEnumString) return E_INVALIDARG;
    GroupList list;
    const HRESULT listed = owner().Groups().List(dwScope, list);
    if (FAILED(listed)) return listed;
    if (riid == IID_IEnumUnknown) return CreateGroupObjectEnumerator(server, list, riid, out);
    std::vector<const wchar_t*> names;
    try {
        names.reserve(list.size());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (GroupObject* group : list) names.push_back(group->state.name.get());
    return StringEnumerator::Create(server, static_cast<ULONG>(names.size()), names.data(), riid,
                                    out);
}
