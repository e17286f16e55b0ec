// The fake OPC group: state, item management and synchronous and asynchronous I/O, keeping what
// clients send so that it can be read back.
#pragma once

#include "fake_com_object.h"
#include "fake_enumerators.h"
#include "opc_da.h"

#include <map>
#include <string>
#include <vector>

namespace fake {

struct GroupState {
    std::wstring name;
    BOOL active = FALSE;
    DWORD updateRate = 0;
    LONG timeBias = 0;
    FLOAT percentDeadband = 0.0f;
    DWORD lcid = 0;
    OPCHANDLE hClientGroup = 0;
    OPCHANDLE hServerGroup = 0;
};

class Group : public ComObject<IOPCGroupStateMgt, IOPCPublicGroupStateMgt, IOPCSyncIO, IOPCAsyncIO,
                               IOPCItemMgt> {
public:
    explicit Group(GroupState state);
    ~Group() override;
    const std::wstring& name() const { return state_.name; }
    OPCHANDLE server_handle() const { return state_.hServerGroup; }

    // IOPCGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName,
                                       LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD* pLCID,
                                       OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override;
    HRESULT STDMETHODCALLTYPE SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate,
                                       BOOL* pActive, LONG* pTimeBias, FLOAT* pPercentDeadband,
                                       DWORD* pLCID, OPCHANDLE* phClientGroup) override;
    HRESULT STDMETHODCALLTYPE SetName(LPCWSTR szName) override;
    HRESULT STDMETHODCALLTYPE CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override;
    // IOPCPublicGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(BOOL* pPublic) override;
    HRESULT STDMETHODCALLTYPE MoveToPublic() override;
    // IOPCSyncIO
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) override;
    // IOPCAsyncIO
    HRESULT STDMETHODCALLTYPE Read(DWORD dwConnection, OPCDATASOURCE dwSource, DWORD dwCount,
                                   OPCHANDLE* phServer, DWORD* pTransactionID,
                                   HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwConnection, DWORD dwCount, OPCHANDLE* phServer,
                                    VARIANT* pItemValues, DWORD* pTransactionID,
                                    HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh(DWORD dwConnection, OPCDATASOURCE dwSource,
                                      DWORD* pTransactionID) override;
    HRESULT STDMETHODCALLTYPE Cancel(DWORD dwTransactionID) override;
    // IOPCItemMgt
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
    // Fills one OPCITEMRESULT for `def`, blob included when asked; the item's error.
    HRESULT describe_item(const OPCITEMDEF& def, OPCHANDLE hServer, bool withBlob,
                          OPCITEMRESULT& result);
    HRESULT write_values(DWORD dwCount, const OPCHANDLE* phServer, const VARIANT* pItemValues,
                         HRESULT** ppErrors);
    // Runs `change` on the item of each handle; unknown handles get OPC_E_INVALIDHANDLE.
    template <class Change>
    HRESULT for_each_item(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors,
                          Change change);

    GroupState state_;
    BOOL public_ = FALSE;
    std::vector<Item> items_;
    std::map<OPCHANDLE, VARIANT> written_;  // values clients wrote, by item handle
    DWORD lastTransaction_ = 0;
};

}  // namespace fake
