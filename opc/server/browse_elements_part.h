#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "opc/com/interface_part.h"
#include "opc_da.h"

class ServerObject;

// IOPCBrowse of a server object: the address space the DA 1.0 browser shows (tag_space.h),
// browsed by item ID a page at a time, with the tags' properties (opc/values/item_properties.h).
// The root ("" or null) holds the branch "Tagname"; the branch holds every tag as an item; a
// tag's item ID names an item without children.
class BrowseElementsPart final : public InterfacePart<IOPCBrowse, ServerObject> {
public:
    using InterfacePart::InterfacePart;

    // Each item's hrErrorID is OPC_E_INVALIDITEMID or OPC_E_UNKNOWNITEMID for an ID that names
    // no tag, S_FALSE when one of its properties failed (OPC_E_INVALID_PID in that property),
    // S_OK otherwise; the call answers S_FALSE when any item's is not S_OK. No property IDs
    // asks for every property.
    HRESULT STDMETHODCALLTYPE GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs,
                                            BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                                            DWORD* pdwPropertyIDs,
                                            OPCITEMPROPERTIES** ppItemProperties) override;
    // A page of at most dwMaxElementsReturned elements (0: all); when more remain, a new
    // continuation point takes the place of the one given, else it is freed and set to null.
    // pbMoreElements stays FALSE: every page that leaves elements out hands out a point. The
    // vendor filter is ignored. S_FALSE when an element's properties have an error.
    HRESULT STDMETHODCALLTYPE Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint,
                                     DWORD dwMaxElementsReturned, OPCBROWSEFILTER dwBrowseFilter,
                                     LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                                     BOOL bReturnAllProperties, BOOL bReturnPropertyValues,
                                     DWORD dwPropertyCount, DWORD* pdwPropertyIDs,
                                     BOOL* pbMoreElements, DWORD* pdwCount,
                                     OPCBROWSEELEMENT** ppBrowseElements) override;

private:
    // Where the next page of a branch's elements starts, for the mirror it was handed out for:
    // a point of an older mirror (TagMirrorGeneration) is stale.
    struct ContinuationPoint {
        std::wstring text;
        std::wstring branch;
        size_t next;
        uint32_t generation;
    };
    // Finds and forgets the point `text` of `branch`; false when no such point is kept.
    bool TakeContinuationPoint(const wchar_t* text, const std::wstring& branch, size_t& next);
    // Keeps a new point and returns its text for the client; null when memory is short.
    wchar_t* HandOutContinuationPoint(const std::wstring& branch, size_t next);

    // A client that never follows its points cannot make the list grow: the oldest go.
    static constexpr size_t kKeptPoints = 16;
    std::vector<ContinuationPoint> m_points;
    unsigned long m_pointSerial = 0;
};
