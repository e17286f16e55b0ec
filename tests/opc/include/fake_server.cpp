#include "fake_server.h"

#include "fake_enumerators.h"
#include "fake_values.h"
#include "task_block_count.h"

#include <cwchar>
#include <iterator>

using Microsoft::WRL::ComPtr;

namespace fake {

HRESULT Server::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                         OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                         DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                         REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!szName || !phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    GroupState state;
    state.name = szName;
    state.active = bActive;
    // Revised to one more than asked, so that the client sees it is the server's answer.
    state.updateRate = dwRequestedUpdateRate + 1;
    state.timeBias = pTimeBias ? *pTimeBias : 0;
    state.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
    state.lcid = dwLCID;
    state.hClientGroup = hClientGroup;
    state.hServerGroup = kFirstServerGroup + static_cast<OPCHANDLE>(groups_.size());
    ComPtr<Group> group(new Group(state));
    const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(hr)) return hr;
    groups_.push_back(group);
    *phServerGroup = state.hServerGroup;
    *pRevisedUpdateRate = state.updateRate;
    return S_OK;
}

HRESULT Server::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString)
{
    if (!ppString) return E_INVALIDARG;
    if (dwError == kLiveTaskBlocksCode) {
        *ppString = task_string(std::to_wstring(live_task_blocks()));
        return *ppString ? S_OK : E_OUTOFMEMORY;
    }
    wchar_t code[32];
    std::swprintf(code, std::size(code), L"%08lX @%lu", static_cast<unsigned long>(dwError),
                  static_cast<unsigned long>(dwLocale));
    *ppString = task_string(std::wstring(kErrorStringPrefix) + code);
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT Server::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!szName || !ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    for (const auto& group : groups_) {
        if (group->name() == szName)
            return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    }
    return E_FAIL;
}

HRESULT Server::GetStatus(OPCSERVERSTATUS** ppServerStatus)
{
    if (!ppServerStatus) return E_INVALIDARG;
    OPCSERVERSTATUS* status = task_array<OPCSERVERSTATUS>(1);
    if (!status) return E_OUTOFMEMORY;
    status->ftStartTime = kStartTime;
    status->ftCurrentTime = kCurrentTime;
    status->ftLastUpdateTime = kLastUpdateTime;
    status->dwServerState = OPC_STATUS_TEST;
    status->dwGroupCount = kGroupCount;
    status->dwBandWidth = kBandWidth;
    status->wMajorVersion = kMajorVersion;
    status->wMinorVersion = kMinorVersion;
    status->wBuildNumber = kBuildNumber;
    status->wReserved = kReserved;
    status->szVendorInfo = task_string(kVendor);
    *ppServerStatus = status;
    return S_OK;
}

HRESULT Server::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce)
{
    for (auto group = groups_.begin(); group != groups_.end(); ++group) {
        if ((*group)->server_handle() != hServerGroup) continue;
        groups_.erase(group);
        // bForce is answered in the result so that the client sees it arrived.
        return bForce ? S_OK : S_FALSE;
    }
    return E_FAIL;
}

HRESULT Server::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!ppUnk || dwScope != OPC_ENUM_ALL) return E_INVALIDARG;
    if (riid == IID_IEnumString) {
        return make_string_enumerator({kGroupNameA, kGroupNameB},
                                      reinterpret_cast<IEnumString**>(ppUnk));
    }
    if (riid == IID_IEnumUnknown) {
        std::vector<ComPtr<IUnknown>> objects;
        for (const auto& group : groups_)
            objects.emplace_back(static_cast<IOPCGroupStateMgt*>(group.Get()));
        return make_unknown_enumerator(objects, riid, reinterpret_cast<void**>(ppUnk));
    }
    return E_INVALIDARG;
}

HRESULT Server::GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk)
{
    if (!szName || !ppUnk) return E_INVALIDARG;
    *ppUnk = nullptr;
    if (std::wcscmp(szName, kPublicGroupName) != 0 || groups_.empty()) return E_FAIL;
    return groups_.front()->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT Server::RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce)
{
    return hServerGroup == kPublicGroupHandle && bForce ? S_OK : E_FAIL;
}

HRESULT Server::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType)
{
    if (!pNameSpaceType) return E_INVALIDARG;
    *pNameSpaceType = OPC_NS_FLAT;
    return S_OK;
}

HRESULT Server::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString)
{
    if (!szString) return E_INVALIDARG;
    return dwBrowseDirection == OPC_BROWSE_DOWN && std::wcscmp(szString, kBranch) == 0 ? S_OK
                                                                                       : E_FAIL;
}

HRESULT Server::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                 VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                 LPENUMSTRING* ppIEnumString)
{
    if (!szFilterCriteria || !ppIEnumString) return E_INVALIDARG;
    *ppIEnumString = nullptr;
    const bool expected =
        dwBrowseFilterType == OPC_LEAF && std::wcscmp(szFilterCriteria, kLeafFilter) == 0 &&
        vtDataTypeFilter == VT_R4 && dwAccessRightsFilter == (OPC_READABLE | OPC_WRITEABLE);
    if (!expected) return E_FAIL;
    // The empty name checks that an empty string crosses as one.
    return make_string_enumerator({kLeafA, kLeafB, L""}, ppIEnumString);
}

HRESULT Server::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID)
{
    if (!szItemDataID || !szItemID) return E_INVALIDARG;
    *szItemID = task_string(std::wstring(kItemIdPrefix) + szItemDataID);
    return *szItemID ? S_OK : E_OUTOFMEMORY;
}

HRESULT Server::BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString)
{
    if (!szItemID || !ppIEnumString) return E_INVALIDARG;
    return make_string_enumerator({kAccessPath, szItemID}, ppIEnumString);
}

}  // namespace fake
