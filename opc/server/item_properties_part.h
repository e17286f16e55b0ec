#pragma once
#include "opc/com/interface_part.h"
#include "opc_da.h"

class ServerObject;

// IOPCItemProperties of a server object: the standard properties 1 to 6 of the tag an item ID
// names (opc/values/item_properties.h). None of them has an item ID of its own.
class ItemPropertiesPart final : public InterfacePart<IOPCItemProperties, ServerObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                       DWORD** ppPropertyIDs,
                                                       LPWSTR** ppDescriptions,
                                                       VARTYPE** ppvtDataTypes) override;
    // Per property OPC_E_INVALID_PID for an id the tag does not have; S_FALSE when any failed.
    HRESULT STDMETHODCALLTYPE GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                                DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                                HRESULT** ppErrors) override;
    // Every entry fails with OPC_E_INVALID_PID, so the call answers S_FALSE.
    HRESULT STDMETHODCALLTYPE LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                            LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) override;
};
