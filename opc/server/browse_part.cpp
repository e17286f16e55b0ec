#include "opc/server/browse_part.h"

#include <climits>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "opc/com/task_memory.h"
#include "opc/server/server_object.h"
#include "opc/server/string_enumerator.h"
#include "opc/server/tag_space.h"
#include "opc/values/call_limits.h"
#include "runtime_link/ansi_text.h"

namespace {

constexpr char kWhiteSpace[] = " \t\n\v\f\r";

// Only these filters list anything; tags of every kind are listed under each of them.
bool ListsNames(VARTYPE dataTypeFilter)
{
    switch (dataTypeFilter) {
    case VT_EMPTY:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_BSTR:
    case VT_BOOL:
        return true;
    default:
        return false;
    }
}

}  // namespace

HRESULT BrowsePart::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType)
{
    if (!pNameSpaceType) return E_INVALIDARG;
    *pNameSpaceType = OPC_NS_HIERARCHIAL;
    return S_OK;
}

HRESULT BrowsePart::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString)
{
    switch (dwBrowseDirection) {
    case OPC_BROWSE_UP:
        if (m_depth == 0) return E_FAIL;
        --m_depth;
        return S_OK;
    case OPC_BROWSE_DOWN:
        // Any branch name leads down into the one branch.
        if (m_depth == 1) return E_INVALIDARG;
        ++m_depth;
        return S_OK;
    case OPC_BROWSE_TO:
        // By the branch's full name, from anywhere; no name is the root.
        if (!szString || !*szString) {
            m_depth = 0;
        } else if (std::wcscmp(szString, kTagBranch) == 0) {
            m_depth = 1;
        } else {
            return E_INVALIDARG;
        }
        return S_OK;
    default:
        return E_INVALIDARG;
    }
}

HRESULT BrowsePart::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR /*szFilterCriteria*/,
                                     VARTYPE vtDataTypeFilter, DWORD /*dwAccessRightsFilter*/,
                                     LPENUMSTRING* ppIEnumString)
{
    if (!ppIEnumString) return E_INVALIDARG;
    *ppIEnumString = nullptr;
    void** out = reinterpret_cast<void**>(ppIEnumString);
    if (!ListsNames(vtDataTypeFilter)) {
        const HRESULT hr = StringEnumerator::Create(nullptr, 0, nullptr, IID_IEnumString, out);
        if (hr == E_OUTOFMEMORY) return hr;
        return FAILED(hr) ? E_FAIL : S_FALSE;
    }

    std::vector<std::wstring> names;
    if (dwBrowseFilterType == OPC_FLAT || (dwBrowseFilterType == OPC_LEAF && m_depth == 1)) {
        names = TagNames();
    } else if (dwBrowseFilterType == OPC_BRANCH && m_depth == 0) {
        try {
            names.emplace_back(kTagBranch);
        } catch (const std::bad_alloc&) {
            // An empty list: the call still succeeds.
        }
    }
    std::vector<const wchar_t*> list;
    try {
        list.reserve(names.size());
        for (const std::wstring& name : names) list.push_back(name.c_str());
    } catch (const std::bad_alloc&) {
        list.clear();
    }
    return StringEnumerator::Create(static_cast<IUnknown*>(&owner()),
                                    static_cast<ULONG>(list.size()), list.data(), IID_IEnumString,
                                    out);
}

HRESULT BrowsePart::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID)
{
    if (!szItemDataID || !szItemID) return E_INVALIDARG;
    *szItemID = nullptr;
    if (!WithinUnits(szItemDataID, kMaxItemIdUnits)) return E_INVALIDARG;
    std::string text;
    try {
        text = AnsiFromWide(szItemDataID);
        const size_t first = text.find_first_not_of(kWhiteSpace);
        text = first == std::string::npos
                   ? std::string()
                   : text.substr(first, text.find_last_not_of(kWhiteSpace) - first + 1);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (text.size() >= INT_MAX / sizeof(wchar_t)) return E_OUTOFMEMORY;
    const int units = static_cast<int>(text.size()) + 1;
    auto* itemId =
        static_cast<wchar_t*>(TaskAllocate(static_cast<size_t>(units) * sizeof(wchar_t)));
    if (!itemId) return E_OUTOFMEMORY;
    // An ANSI text never takes more UTF-16 units than it has bytes.
    const int written = MultiByteToWideChar(CP_ACP, 0, text.c_str(), units, itemId, units);
    if (written == 0) itemId[0] = L'\0';
    *szItemID = itemId;
    return S_OK;
}

HRESULT BrowsePart::BrowseAccessPaths(LPCWSTR /*szItemID*/, LPENUMSTRING* /*ppIEnumString*/)
{
    return E_NOTIMPL;
}
