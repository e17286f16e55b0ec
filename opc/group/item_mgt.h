#pragma once
#include "opc/com/interface_part.h"
#include "opc/group/group_object.h"
#include "opc_da.h"

// IOPCItemMgt of a group: items added, validated and removed, their active state, client
// handles and requested types, and the enumerator of their attributes.
class ItemMgtPart final : public InterfacePart<IOPCItemMgt, GroupObject> {
public:
    using InterfacePart::InterfacePart;

    HRESULT STDMETHODCALLTYPE AddItems(DWORD dwCount, OPCITEMDEF* pItemArray,
                                       OPCITEMRESULT** ppAddResults, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                            OPCITEMRESULT** ppValidationResults,
                                            HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE RemoveItems(DWORD dwCount, OPCHANDLE* phServer,
                                          HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                             HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetClientHandles(DWORD dwCount, OPCHANDLE* phServer,
                                               OPCHANDLE* phClient, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE SetDatatypes(DWORD dwCount, OPCHANDLE* phServer,
                                           VARTYPE* pRequestedDatatypes,
                                           HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

private:
    // AddItems and ValidateItems: one item made and initialised per definition; `keep` puts
    // each good one into the table, otherwise it is dropped again.
    HRESULT MakeItems(DWORD dwCount, const OPCITEMDEF* pItemArray, bool keep,
                      OPCITEMRESULT** ppResults, HRESULT** ppErrors);
};
