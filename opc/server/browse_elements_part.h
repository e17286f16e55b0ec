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
    // A point serves only the branch, filters and property request it was made for (the page
    // size may change); given with any of them different it is OPC_E_INVALIDCONTINUATIONPOINT.
    // A page that fails leaves the point given as it was, to ask for the same page again.
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
    // What a browse asks for beyond its page size: the pages of one request follow each other.
    struct BrowseRequest {
        std::wstring branch;
        OPCBROWSEFILTER filter;
        std::wstring nameFilter;
        std::wstring vendorFilter;
        bool allProperties;
        bool propertyValues;
        std::vector<DWORD> propertyIds;  // empty when all are asked for: the list is not read
        bool operator==(const BrowseRequest& other) const;
    };
    // Where the next page of a request starts, for the mirror it was handed out for: a point of
    // an older mirror (TagMirrorGeneration) is stale.
    struct ContinuationPoint {
        std::wstring text;
        BrowseRequest request;
        size_t next;
        uint32_t generation;
    };
    using Points = std::vector<ContinuationPoint>;

    // The kept point `text` if it was made for `request` and the current mirror, else end();
    // a stale point is forgotten.
    Points::iterator FindContinuationPoint(const wchar_t* text, const BrowseRequest& request);
    // Once a page is ready: forgets `given` (end() when none) and, when elements remain from
    // `next` on, keeps a new point for `request` and hands out its text in *text. E_OUTOFMEMORY
    // leaves every point as it was. m_points must have room for kKeptPoints.
    HRESULT MoveOn(Points::iterator given, BrowseRequest&& request, bool more, size_t next,
                   wchar_t** text);

    // A client that never follows its points cannot make the list grow: the oldest go.
    static constexpr size_t kKeptPoints = 16;
    Points m_points;
    unsigned long m_pointSerial = 0;
};
