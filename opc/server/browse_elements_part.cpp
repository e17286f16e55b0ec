#include "opc/server/browse_elements_part.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <new>
#include <string>

#include "opc/com/task_array.h"
#include "opc/server/server_object.h"
#include "opc/server/tag_space.h"
#include "opc/values/call_limits.h"
#include "opc/values/item_properties.h"
#include "opc/values/item_value.h"
#include "opc/values/tag_lookup.h"
#include "opc_error.h"
#include "runtime_link/project_files.h"
#include "runtime_link/tag_mirror.h"

namespace {

// Which properties a client asked for, and whether with values.
struct PropertyRequest {
    bool all;
    DWORD count;
    const DWORD* ids;
    bool values;
};

constexpr size_t LongestDescriptionBytes()
{
    size_t longest = 0;
    for (const ItemProperty& property : kItemProperties)
        longest = std::max(longest, std::char_traits<wchar_t>::length(property.description));
    return (longest + 1) * sizeof(wchar_t);
}

// The most one item's property list can take: a property the tag offers with its description
// and, when asked for, the longest value (a string tag's text as a BSTR), any other ID bare.
size_t PropertyListBytes(const PropertyRequest& request)
{
    constexpr size_t kLongestValueBytes = (kMirrorTextUnits + 3) * sizeof(wchar_t);
    size_t offered = std::size(kItemProperties);
    size_t others = 0;
    if (!request.all) {
        offered = static_cast<size_t>(std::count_if(
            request.ids, request.ids + request.count,
            [](DWORD id) { return ItemPropertyDescription(id) != nullptr; }));
        others = request.count - offered;
    }
    const size_t offeredBytes = sizeof(OPCITEMPROPERTY) + LongestDescriptionBytes() +
                                (request.values ? kLongestValueBytes : 0);
    return offered * offeredBytes + others * sizeof(OPCITEMPROPERTY);
}

void ClearProperties(OPCITEMPROPERTIES& list)
{
    for (DWORD i = 0; list.pItemProperties && i < list.dwNumProperties; ++i) {
        OPCITEMPROPERTY& property = list.pItemProperties[i];
        CoTaskMemFree(property.szItemID);
        CoTaskMemFree(property.szDescription);
        VariantClear(&property.vValue);
    }
    CoTaskMemFree(list.pItemProperties);
    list.pItemProperties = nullptr;
    list.dwNumProperties = 0;
}

// The properties of the tag in `slot` that `request` names into `list`: hrErrorID S_FALSE when
// one of them failed, S_OK otherwise. E_OUTOFMEMORY with nothing left in `list`.
HRESULT FillProperties(int slot, const PropertyRequest& request, OPCITEMPROPERTIES& list)
{
    const DWORD count =
        request.all ? static_cast<DWORD>(std::size(kItemProperties)) : request.count;
    list = OPCITEMPROPERTIES{};
    TaskArray<OPCITEMPROPERTY> properties = AllocateTaskArray<OPCITEMPROPERTY>(count);
    if (!properties) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) {
        properties[i] = OPCITEMPROPERTY{};
        VariantInit(&properties[i].vValue);
    }
    list.pItemProperties = properties.release();
    list.dwNumProperties = count;
    for (DWORD i = 0; i < count; ++i) {
        OPCITEMPROPERTY& property = list.pItemProperties[i];
        const DWORD id = request.all ? kItemProperties[i].id : request.ids[i];
        property.dwPropertyID = id;
        property.vtDataType = ItemPropertyType(slot, id);
        // No property has an item ID of its own.
        const wchar_t* description = ItemPropertyDescription(id);
        if (!description) {
            property.hrErrorID = OPC_E_INVALID_PID;
            list.hrErrorID = S_FALSE;
            continue;
        }
        property.szDescription = TaskStringCopy(description);
        property.hrErrorID =
            request.values ? ItemPropertyValue(slot, id, PollPeriod(), &property.vValue)
                           : S_OK;
        if (!property.szDescription || property.hrErrorID == E_OUTOFMEMORY) {
            ClearProperties(list);
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

// One element of a branch: the branch "Tagname" at the root, or a tag in it.
struct Element {
    const std::wstring* name;
    bool isItem;
};

bool Listed(const Element& element, OPCBROWSEFILTER filter)
{
    switch (filter) {
    case OPC_BROWSE_FILTER_BRANCHES:
        return !element.isItem;
    case OPC_BROWSE_FILTER_ITEMS:
        return element.isItem;
    default:
        return true;
    }
}

void FreeElements(OPCBROWSEELEMENT* elements, DWORD count)
{
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
        ClearProperties(elements[i].ItemProperties);
    }
}

}  // namespace

HRESULT BrowseElementsPart::GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs,
                                          BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                                          DWORD* pdwPropertyIDs,
                                          OPCITEMPROPERTIES** ppItemProperties)
{
    if (!ppItemProperties) return E_INVALIDARG;
    *ppItemProperties = nullptr;
    if (dwItemCount == 0 || !pszItemIDs || (dwPropertyCount && !pdwPropertyIDs) ||
        dwItemCount > kMaxListEntries || dwPropertyCount > kMaxPropertyIds) {
        return E_INVALIDARG;
    }

    const PropertyRequest request{dwPropertyCount == 0, dwPropertyCount, pdwPropertyIDs,
                                  bReturnPropertyValues != FALSE};
    if (dwItemCount * (sizeof(OPCITEMPROPERTIES) + PropertyListBytes(request)) > kMaxAnswerBytes)
        return E_OUTOFMEMORY;
    TaskArray<OPCITEMPROPERTIES> lists = AllocateTaskArray<OPCITEMPROPERTIES>(dwItemCount);
    if (!lists) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < dwItemCount; ++i) {
        lists[i] = OPCITEMPROPERTIES{};
        int slot = 0;
        lists[i].hrErrorID = FindTagOfPropertyItem(pszItemIDs[i], &slot);
        if (SUCCEEDED(lists[i].hrErrorID) &&
            FillProperties(slot, request, lists[i]) == E_OUTOFMEMORY) {
            for (DWORD j = 0; j < i; ++j) ClearProperties(lists[j]);
            return E_OUTOFMEMORY;
        }
        if (lists[i].hrErrorID != S_OK) result = S_FALSE;
    }
    *ppItemProperties = lists.release();
    return result;
}

HRESULT BrowseElementsPart::Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint,
                                   DWORD dwMaxElementsReturned, OPCBROWSEFILTER dwBrowseFilter,
                                   LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                   BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                                   DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                   BOOL* pbMoreElements, DWORD* pdwCount,
                                   OPCBROWSEELEMENT** ppBrowseElements)
{
    if (!pbMoreElements || !pdwCount || !ppBrowseElements) return E_INVALIDARG;
    *pbMoreElements = FALSE;
    *pdwCount = 0;
    *ppBrowseElements = nullptr;
    if (!pszContinuationPoint || (!bReturnAllProperties && dwPropertyCount && !pdwPropertyIDs) ||
        dwPropertyCount > kMaxPropertyIds) {
        return E_INVALIDARG;
    }
    if (dwBrowseFilter < OPC_BROWSE_FILTER_ALL || dwBrowseFilter > OPC_BROWSE_FILTER_ITEMS ||
        !IsNameFilter(szElementNameFilter) || !WithinUnits(szVendorFilter, kMaxNameFilterUnits)) {
        return OPC_E_INVALIDFILTER;
    }

    const bool atRoot = !szItemID || !*szItemID;
    const bool inTagBranch = !atRoot && std::wcscmp(szItemID, kTagBranch) == 0;
    if (!atRoot && !inTagBranch) {
        // A tag's item ID names an item without children.
        int slot = 0;
        const HRESULT found = FindTagOfPropertyItem(szItemID, &slot);
        if (FAILED(found)) return found;
    }
    const bool allProperties = bReturnAllProperties != FALSE;
    BrowseRequest browse{};
    Points::iterator given;
    std::vector<std::wstring> names;
    std::vector<Element> listed;
    try {
        browse = BrowseRequest{
            atRoot ? std::wstring() : std::wstring(szItemID),
            dwBrowseFilter,
            szElementNameFilter ? szElementNameFilter : L"",
            szVendorFilter ? szVendorFilter : L"",
            allProperties,
            bReturnPropertyValues != FALSE,
            allProperties ? std::vector<DWORD>()
                          : std::vector<DWORD>(pdwPropertyIDs, pdwPropertyIDs + dwPropertyCount)};
        // Room for a new point before one is looked up: keeping it cannot fail later.
        m_points.reserve(kKeptPoints);
        given = m_points.end();
        if (*pszContinuationPoint && **pszContinuationPoint) {
            if (WithinUnits(*pszContinuationPoint, kMaxContinuationPointUnits))
                given = FindContinuationPoint(*pszContinuationPoint, browse);
            if (given == m_points.end()) return OPC_E_INVALIDCONTINUATIONPOINT;
        }
        if (atRoot) {
            names.emplace_back(kTagBranch);
        } else if (inTagBranch) {
            names = TagNames();
        }
        for (const std::wstring& name : names) {
            const Element element{&name, inTagBranch};
            if (Listed(element, dwBrowseFilter) && NameMatchesFilter(name, szElementNameFilter))
                listed.push_back(element);
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }

    // Names change only with the mirror's generation, so a point's request lists what it listed
    // when the point was made: the bound only guards the index.
    const size_t first = given == m_points.end() ? 0 : std::min(given->next, listed.size());
    size_t count = listed.size() - first;
    if (dwMaxElementsReturned && count > dwMaxElementsReturned) count = dwMaxElementsReturned;
    const bool withProperties = allProperties || dwPropertyCount;
    const PropertyRequest request{allProperties, dwPropertyCount, pdwPropertyIDs,
                                  bReturnPropertyValues != FALSE};
    constexpr size_t kNameBytes = kMirrorNameUnits * sizeof(wchar_t);
    const size_t elementBytes = sizeof(OPCBROWSEELEMENT) + 2 * kNameBytes +
                                (withProperties ? PropertyListBytes(request) : 0);
    if (count * elementBytes > kMaxAnswerBytes) return E_OUTOFMEMORY;
    TaskArray<OPCBROWSEELEMENT> elements =
        AllocateTaskArray<OPCBROWSEELEMENT>(static_cast<DWORD>(count));
    if (!elements) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (size_t i = 0; i < count; ++i) {
        const Element& element = listed[first + i];
        OPCBROWSEELEMENT& out = elements[i];
        out = OPCBROWSEELEMENT{};
        out.dwFlagValue = element.isItem ? OPC_BROWSE_ISITEM : OPC_BROWSE_HASCHILDREN;
        out.szName = TaskStringCopy(element.name->c_str());
        out.szItemID = TaskStringCopy(element.name->c_str());
        HRESULT filled = out.szName && out.szItemID ? S_OK : E_OUTOFMEMORY;
        if (SUCCEEDED(filled) && element.isItem && withProperties) {
            const int slot = FindTagOfItemId(element.name->c_str());
            filled = FillProperties(slot, request, out.ItemProperties);
        }
        if (FAILED(filled)) {
            FreeElements(elements.get(), static_cast<DWORD>(i + 1));
            return filled;
        }
        if (out.ItemProperties.hrErrorID != S_OK) result = S_FALSE;
    }
    wchar_t* nextPoint = nullptr;
    if (FAILED(MoveOn(given, std::move(browse), first + count < listed.size(), first + count,
                      &nextPoint))) {
        FreeElements(elements.get(), static_cast<DWORD>(count));
        return E_OUTOFMEMORY;
    }
    CoTaskMemFree(*pszContinuationPoint);
    *pszContinuationPoint = nextPoint;
    *pdwCount = static_cast<DWORD>(count);
    *ppBrowseElements = elements.release();
    return result;
}

bool BrowseElementsPart::BrowseRequest::operator==(const BrowseRequest& other) const
{
    return branch == other.branch && filter == other.filter && nameFilter == other.nameFilter &&
           vendorFilter == other.vendorFilter && allProperties == other.allProperties &&
           propertyValues == other.propertyValues && propertyIds == other.propertyIds;
}

BrowseElementsPart::Points::iterator BrowseElementsPart::FindContinuationPoint(
    const wchar_t* text, const BrowseRequest& request)
{
    const auto point =
        std::find_if(m_points.begin(), m_points.end(),
                     [text](const ContinuationPoint& kept) { return kept.text == text; });
    if (point == m_points.end()) return point;
    if (point->generation != TagMirrorGeneration()) {
        m_points.erase(point);
        return m_points.end();
    }
    return point->request == request ? point : m_points.end();
}

HRESULT BrowseElementsPart::MoveOn(Points::iterator given, BrowseRequest&& request, bool more,
                                   size_t next, wchar_t** text)
{
    *text = nullptr;
    ContinuationPoint point{};
    if (more) {
        try {
            point = ContinuationPoint{L"page-" + std::to_wstring(m_pointSerial + 1),
                                      std::move(request), next, TagMirrorGeneration()};
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        *text = TaskStringCopy(point.text.c_str());
        if (!*text) return E_OUTOFMEMORY;
        ++m_pointSerial;
    }
    // Nothing from here on allocates: the points change only once the page is sure.
    if (given != m_points.end()) m_points.erase(given);
    if (more) {
        if (m_points.size() == kKeptPoints) m_points.erase(m_points.begin());
        m_points.push_back(std::move(point));
    }
    return S_OK;
}
