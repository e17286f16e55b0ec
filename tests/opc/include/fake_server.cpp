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
namespace {

bool is_item_id(const wchar_t* itemId)
{
    return std::wcsncmp(itemId, kItemIdPrefix, std::size(kItemIdPrefix) - 1) == 0;
}

// Entry i is the item whose ID (item_id_of) pszItemIDs[i] is; other IDs are unknown.
ItemLookup by_item_id(const LPCWSTR* pszItemIDs)
{
    return [pszItemIDs](DWORD i, OPCHANDLE* h) {
        const wchar_t* itemId = pszItemIDs[i];
        if (!itemId || !is_item_id(itemId)) return OPC_E_UNKNOWNITEMID;
        const wchar_t* digits = itemId + std::size(kItemIdPrefix) - 1;
        wchar_t* end = nullptr;
        *h = std::wcstoul(digits, &end, 10);
        return end != digits && !*end ? S_OK : OPC_E_UNKNOWNITEMID;
    };
}

// The properties `ids` of `item` (all of them when `all`), with their values when asked. An
// unknown property is an entry with its error and nothing else; hrErrorID is then S_FALSE.
void describe_properties(const std::wstring& item, bool all, DWORD count, const DWORD* ids,
                         bool withValues, OPCITEMPROPERTIES& out)
{
    const std::vector<DWORD> wanted =
        all ? std::vector<DWORD>(std::begin(kPropertyIds), std::end(kPropertyIds))
            : std::vector<DWORD>(ids, ids + count);
    out.hrErrorID = S_OK;
    if (wanted.empty()) return;
    out.pItemProperties = task_array<OPCITEMPROPERTY>(wanted.size());
    if (!out.pItemProperties) {
        out.hrErrorID = E_OUTOFMEMORY;
        return;
    }
    out.dwNumProperties = static_cast<DWORD>(wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i) {
        OPCITEMPROPERTY& property = out.pItemProperties[i];
        property.dwPropertyID = wanted[i];
        const auto known = std::find(std::begin(kPropertyIds), std::end(kPropertyIds), wanted[i]);
        if (known == std::end(kPropertyIds)) {
            property.hrErrorID = OPC_E_INVALID_PID;
            out.hrErrorID = S_FALSE;
            continue;
        }
        const size_t index = known - std::begin(kPropertyIds);
        property.vtDataType = kPropertyTypes[index];
        property.szDescription = task_string(property_description(index, item));
        if (wanted[i] > 6) property.szItemID = task_string(property_item_id(item, wanted[i]));
        if (withValues) property_value(wanted[i], item, &property.vValue);
    }
}

// Whether Browse lists entry n for these filters.
bool listed(size_t n, OPCBROWSEFILTER filter, const wchar_t* nameFilter)
{
    const BrowseEntry& entry = kBrowseEntries[n];
    const DWORD wanted = filter == OPC_BROWSE_FILTER_BRANCHES ? OPC_BROWSE_HASCHILDREN
                         : filter == OPC_BROWSE_FILTER_ITEMS  ? OPC_BROWSE_ISITEM
                                                              : ~DWORD{0};
    return (entry.flags & wanted) &&
           std::wcsncmp(entry.name, nameFilter, std::wcslen(nameFilter)) == 0;
}

}  // namespace

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
    for (DWORD i = 0; i < count; ++i) {
        (*ppPropertyIDs)[i] = kPropertyIds[i];
        (*ppDescriptions)[i] = task_string(property_description(i, szItemID));
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
        if (property_value(pdwPropertyIDs[i], szItemID, &(*ppvData)[i])) continue;
        (*ppErrors)[i] = OPC_E_INVALID_PID;
        result = S_FALSE;
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
        (*ppszNewItemIDs)[i] = task_string(property_item_id(szItemID, pdwPropertyIDs[i]));
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

HRESULT Server::GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues,
                              DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                              OPCITEMPROPERTIES** ppItemProperties)
{
    if (!pszItemIDs || (dwPropertyCount && !pdwPropertyIDs) || !ppItemProperties)
        return E_INVALIDARG;
    OPCITEMPROPERTIES* all = task_array<OPCITEMPROPERTIES>(dwItemCount);
    if (!all) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwItemCount; ++i) {
        if (!pszItemIDs[i] || !is_item_id(pszItemIDs[i])) {
            all[i].hrErrorID = OPC_E_UNKNOWNITEMID;
        } else {
            // No property IDs ask for every property.
            describe_properties(pszItemIDs[i], dwPropertyCount == 0, dwPropertyCount,
                                pdwPropertyIDs, bReturnPropertyValues != FALSE, all[i]);
        }
        if (all[i].hrErrorID != S_OK) result = S_FALSE;
    }
    *ppItemProperties = all;
    return result;
}

HRESULT Server::Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                       OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter,
                       LPWSTR szVendorFilter, BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                       DWORD dwPropertyCount, DWORD* pdwPropertyIDs, BOOL* pbMoreElements,
                       DWORD* pdwCount, OPCBROWSEELEMENT** ppBrowseElements)
{
    if (!szItemID || !pszContinuationPoint || !szElementNameFilter || !szVendorFilter ||
        (dwPropertyCount && !pdwPropertyIDs) || !pbMoreElements || !pdwCount || !ppBrowseElements ||
        dwBrowseFilter < OPC_BROWSE_FILTER_ALL || dwBrowseFilter > OPC_BROWSE_FILTER_ITEMS) {
        return E_INVALIDARG;
    }
    if (std::wcscmp(szItemID, kBranch) != 0) return OPC_E_UNKNOWNITEMID;
    if (*szVendorFilter) return OPC_E_INVALIDFILTER;
    constexpr size_t entries = std::size(kBrowseEntries);
    size_t start = 0;
    if (*pszContinuationPoint && **pszContinuationPoint) {
        while (start < entries && continuation_point(start) != *pszContinuationPoint) ++start;
        if (start == entries) return E_INVALIDARG;
    }
    std::vector<size_t> page;
    size_t next = entries;
    for (size_t n = start; n < entries && next == entries; ++n) {
        if (!listed(n, dwBrowseFilter, szElementNameFilter)) continue;
        if (dwMaxElementsReturned && page.size() == dwMaxElementsReturned) {
            next = n;
        } else {
            page.push_back(n);
        }
    }
    OPCBROWSEELEMENT* elements = task_array<OPCBROWSEELEMENT>(page.size());
    if (!elements) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (size_t i = 0; i < page.size(); ++i) {
        const BrowseEntry& entry = kBrowseEntries[page[i]];
        const std::wstring itemId = kItemIdPrefix + std::wstring(entry.name);
        OPCBROWSEELEMENT& element = elements[i];
        element.szName = task_string(entry.name);
        element.szItemID = task_string(itemId);
        element.dwFlagValue = entry.flags;
        if (entry.flags & OPC_BROWSE_ISITEM) {
            describe_properties(itemId, bReturnAllProperties != FALSE, dwPropertyCount,
                                pdwPropertyIDs, bReturnPropertyValues != FALSE,
                                element.ItemProperties);
        }
        if (element.ItemProperties.hrErrorID != S_OK) result = S_FALSE;
    }
    // The continuation point sent in is the callee's to free once it is replaced.
    CoTaskMemFree(*pszContinuationPoint);
    *pszContinuationPoint = next < entries ? task_string(continuation_point(next)) : nullptr;
    *pbMoreElements = next < entries;
    *pdwCount = static_cast<DWORD>(page.size());
    *ppBrowseElements = elements;
    return result;
}

HRESULT Server::Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues,
                     WORD** ppwQualities, FILETIME** ppftTimeStamps, HRESULT** ppErrors)
{
    if (!pszItemIDs || !pdwMaxAge || !ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors)
        return E_INVALIDARG;
    return values_.read_max_age(dwCount, by_item_id(pszItemIDs), pdwMaxAge, ppvValues, ppwQualities,
                                ppftTimeStamps, ppErrors);
}

HRESULT Server::WriteVQT(DWORD dwCount, LPCWSTR* pszItemIDs, OPCITEMVQT* pItemVQT,
                         HRESULT** ppErrors)
{
    if (!pszItemIDs || !pItemVQT || !ppErrors) return E_INVALIDARG;
    return for_each_entry(dwCount, by_item_id(pszItemIDs), ppErrors,
                          [&](OPCHANDLE h, DWORD i) { return values_.write(h, pItemVQT[i]); });
}

}  // namespace fake
