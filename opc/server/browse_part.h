#pragma once
#include "opc/com/interface_part.h"
#include "opc_da.h"

class ServerObject;

// IOPCBrowseServerAddressSpace of a server object: a root with the one branch "Tagname", which
// holds every tag of the mirror as a leaf. The position belongs to the server object, so every
// client pointer to this interface shares it. Up and down step between root and branch (down
// takes any name into the one branch); to goes by full name: none or "" to the root, "Tagname"
// to the branch, any other name is E_INVALIDARG with the position unchanged.
class BrowsePart final : public InterfacePart<IOPCBrowseServerAddressSpace, ServerObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override;
    HRESULT STDMETHODCALLTYPE ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection,
                                                   LPCWSTR szString) override;
    HRESULT STDMETHODCALLTYPE BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType,
                                               LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                               DWORD dwAccessRightsFilter,
                                               LPENUMSTRING* ppIEnumString) override;
    HRESULT STDMETHODCALLTYPE GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override;
    HRESULT STDMETHODCALLTYPE BrowseAccessPaths(LPCWSTR szItemID,
                                                LPENUMSTRING* ppIEnumString) override;

private:
    LONG m_depth = 0;  // 0 at the root, 1 inside the branch
};
