#include "fake_server.h"

#include "fake_connection_point.h"
#include "fake_enumerators.h"
#include "fake_values.h"
#include "task_block_count.h"

#include <algorithm>
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

HRESULT Server::SetLocaleID(LCID dwLcid)
{
    for (LCID offered : kLocales) {
        if (offered != dwLcid) continue;
        locale_ = dwLcid;
        return S_OK;
    }
    return E_INVALIDARG;
}

HRESULT Server::GetLocaleID(LCID* pdwLcid)
{
    if (!pdwLcid) return E_INVALIDARG;
    *pdwLcid = locale_;
    return S_OK;
}

HRESULT Server::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid)
{
    if (!pdwCount || !pdwLcid) return E_INVALIDARG;
    *pdwLcid = task_array<LCID>(std::size(kLocales));
    if (!*pdwLcid) return E_OUTOFMEMORY;
    std::copy(std::begin(kLocales), std::end(kLocales), *pdwLcid);
    *pdwCount = static_cast<DWORD>(std::size(kLocales));
    return S_OK;
}

HRESULT Server::GetErrorString(HRESULT dwError, LPWSTR* ppString)
{
    if (!ppString) return E_INVALIDARG;
    wchar_t code[32];
    std::swprintf(code, std::size(code), L"%08lX @%lu", static_cast<unsigned long>(dwError),
                  static_cast<unsigned long>(locale_));
    *ppString = task_string(std::wstring(kErrorStringPrefix) + code + kForClient + clientName_);
    return *ppString ? S_OK : E_OUTOFMEMORY;
}

HRESULT Server::SetClientName(LPCWSTR szName)
{
    if (!szName) return E_INVALIDARG;
    clientName_ = szName;
    return S_OK;
}

HRESULT Server::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                         LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes)
{
    if (!szItemID || !pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes)
        return E_INVALIDARG;
    constexpr DWORD count = std::size(kPropertyIds);
    *ppPropertyIDs = task_array<DWORD>(count);
    *ppDescriptions = task_array<LPWSTR>(count);
    *ppvtDataTypes = task_array<VARTYPE>(count);
    const std::wstring descriptions[count] = {kCanonicalTypeText, kValueText,
                                              kDescriptionPrefix + std::wstring(szItemID)};
    for (DWORD i = 0; i < count; ++i) {
        (*ppPropertyIDs)[i] = kPropertyIds[i];
        (*ppDescriptions)[i] = task_string(descriptions[i]);
        (*ppvtDataTypes)[i] = kPropertyTypes[i];
    }
    *pdwCount = count;
    return S_OK;
}

HRESULT Server::GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                  VARIANT** ppvData, HRESULT** ppErrors)
{
    if (!szItemID || !dwCount || !pdwPropertyIDs || !ppvData || !ppErrors) return E_INVALIDARG;
    *ppvData = task_array<VARIANT>(dwCount);
    *ppErrors = task_array<HRESULT>(dwCount);
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        VARIANT& value = (*ppvData)[i];
        switch (pdwPropertyIDs[i]) {
        case 1:
            value.vt = VT_I2;
            value.iVal = VT_R4;
            break;
        case 2:
            value.vt = VT_R4;
            value.fltVal = kPropertyValue;
            break;
        case 101:
            value.vt = VT_BSTR;
            value.bstrVal = SysAllocString((kDescriptionPrefix + std::wstring(szItemID)).c_str());
            break;
        default:
            (*ppErrors)[i] = OPC_E_INVALID_PID;
            result = S_FALSE;
        }
    }
    return result;
}

HRESULT Server::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                              LPWSTR** ppszNewItemIDs, HRESULT** ppErrors)
{
    if (!szItemID || !dwCount || !pdwPropertyIDs || !ppszNewItemIDs || !ppErrors)
        return E_INVALIDARG;
    *ppszNewItemIDs = task_array<LPWSTR>(dwCount);
    *ppErrors = task_array<HRESULT>(dwCount);
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwCount; ++i) {
        if (pdwPropertyIDs[i] <= 6) {
            (*ppErrors)[i] = OPC_E_INVALID_PID;
            result = S_FALSE;
            continue;
        }
        (*ppszNewItemIDs)[i] =
            task_string(std::wstring(szItemID) + L"." + std::to_wstring(pdwPropertyIDs[i]));
    }
    return result;
}

HRESULT Server::EnumConnectionPoints(IEnumConnectionPoints** ppEnum)
{
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
}

HRESULT Server::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP)
{
    return make_connection_point(riid, ppCP);
}

}  // namespace fake
