// The fake OPC group: state, item management, synchronous and asynchronous I/O, deadbands and
// the keep-alive, keeping what clients send so that it can be read back.
#pragma once

#include "fake_com_object.h"
#include "fake_enumerators.h"
#include "opc_da.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fake {

template <>
struct Extends<IOPCGroupStateMgt2> {
    using type = IOPCGroupStateMgt;
};
template <>
struct Extends<IOPCSyncIO2> {
    using type = IOPCSyncIO;
};
template <>
struct Extends<IOPCAsyncIO3> {
    using type = IOPCAsyncIO2;
};

// Finds the item of entry i of a list call: sets its handle, or answers the entry's error.
using ItemLookup = std::function<HRESULT(DWORD i, OPCHANDLE* h)>;
// Entry i is the item of phServer[i]; kBadHandle is unknown.
ItemLookup by_handle(const OPCHANDLE* phServer);
// Runs `answer(h, i)` for each entry whose item `lookup` finds and hands the client the entries'
// errors; S_FALSE when any failed.
HRESULT for_each_entry(DWORD count, const ItemLookup& lookup, HRESULT** ppErrors,
                       const std::function<HRESULT(OPCHANDLE h, DWORD i)>& answer);

// What clients wrote to items, by item handle: the value, and the quality and timestamp when
// the writer gave them. Reads give it back, or the item's initial value.
class ItemValues {
public:
    ItemValues() = default;
    ItemValues(const ItemValues&) = delete;
    ItemValues& operator=(const ItemValues&) = delete;
    ~ItemValues();

    HRESULT write(OPCHANDLE h, const VARIANT& value);
    HRESULT write(OPCHANDLE h, const OPCITEMVQT& vqt);
    // `stamp` is the timestamp of an item written without one.
    HRESULT read(OPCHANDLE h, FILETIME stamp, VARIANT* value, WORD* quality,
                 FILETIME* timestamp) const;
    // A read with a maximum age for each entry (IOPCSyncIO2, IOPCItemIO), into arrays for the
    // client; the timestamp of an item written without one is max_age_timestamp.
    HRESULT read_max_age(DWORD count, const ItemLookup& lookup, const DWORD* maxAges,
                         VARIANT** ppvValues, WORD** ppwQualities, FILETIME** ppftTimeStamps,
                         HRESULT** ppErrors) const;

private:
    struct Written {
        VARIANT value;
        bool hasQuality = false;
        WORD quality = 0;
        bool hasTimestamp = false;
        FILETIME timestamp = {};
    };
    std::map<OPCHANDLE, Written> written_;
};

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

class Group : public ComObject<IOPCGroupStateMgt2, IOPCPublicGroupStateMgt, IOPCSyncIO2,
                               IOPCAsyncIO, IOPCAsyncIO3, IOPCItemMgt, IOPCItemDeadbandMgt> {
public:
    explicit Group(GroupState state);
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
    // IOPCGroupStateMgt2
    HRESULT STDMETHODCALLTYPE SetKeepAlive(DWORD dwKeepAliveTime,
                                           DWORD* pdwRevisedKeepAliveTime) override;
    HRESULT STDMETHODCALLTYPE GetKeepAlive(DWORD* pdwKeepAliveTime) override;
    // IOPCPublicGroupStateMgt
    HRESULT STDMETHODCALLTYPE GetState(BOOL* pPublic) override;
    HRESULT STDMETHODCALLTYPE MoveToPublic() override;
    // IOPCSyncIO
    HRESULT STDMETHODCALLTYPE Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                                   OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    HRESULT** ppErrors) override;
    // IOPCSyncIO2
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge,
                                         VARIANT** ppvValues, WORD** ppwQualities,
                                         FILETIME** ppftTimeStamps, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
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
    // IOPCAsyncIO2: only there because IOPCAsyncIO3 extends it; every method answers E_NOTIMPL.
    HRESULT STDMETHODCALLTYPE Read(DWORD dwCount, OPCHANDLE* phServer, DWORD dwTransactionID,
                                   DWORD* pdwCancelID, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                                    DWORD dwTransactionID, DWORD* pdwCancelID,
                                    HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE Refresh2(OPCDATASOURCE dwSource, DWORD dwTransactionID,
                                       DWORD* pdwCancelID) override;
    HRESULT STDMETHODCALLTYPE Cancel2(DWORD dwCancelID) override;
    HRESULT STDMETHODCALLTYPE SetEnable(BOOL bEnable) override;
    HRESULT STDMETHODCALLTYPE GetEnable(BOOL* pbEnable) override;
    // IOPCAsyncIO3
    HRESULT STDMETHODCALLTYPE ReadMaxAge(DWORD dwCount, OPCHANDLE* phServer, DWORD* pdwMaxAge,
                                         DWORD dwTransactionID, DWORD* pdwCancelID,
                                         HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE WriteVQT(DWORD dwCount, OPCHANDLE* phServer, OPCITEMVQT* pItemVQT,
                                       DWORD dwTransactionID, DWORD* pdwCancelID,
                                       HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE RefreshMaxAge(DWORD dwMaxAge, DWORD dwTransactionID,
                                            DWORD* pdwCancelID) override;
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
    // IOPCItemDeadbandMgt
    HRESULT STDMETHODCALLTYPE SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                              FLOAT* pPercentDeadband, HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                              FLOAT** ppPercentDeadband,
                                              HRESULT** ppErrors) override;
    HRESULT STDMETHODCALLTYPE ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer,
                                                HRESULT** ppErrors) override;

private:
    // Fills one OPCITEMRESULT for `def`, blob included when asked; the item's error.
    HRESULT describe_item(const OPCITEMDEF& def, OPCHANDLE hServer, bool withBlob,
                          OPCITEMRESULT& result);
    // Writes entry i of `values` (VARIANTs or OPCITEMVQTs) to the item of phServer[i].
    template <class Value>
    HRESULT write_values(DWORD dwCount, const OPCHANDLE* phServer, const Value* values,
                         HRESULT** ppErrors)
    {
        return for_each_entry(dwCount, by_handle(phServer), ppErrors,
                              [&](OPCHANDLE h, DWORD i) { return values_.write(h, values[i]); });
    }
    // Runs `change` on the item of each handle; unknown handles get OPC_E_INVALIDHANDLE.
    template <class Change>
    HRESULT for_each_item(DWORD dwCount, const OPCHANDLE* phServer, HRESULT** ppErrors,
                          Change change);

    GroupState state_;
    BOOL public_ = FALSE;
    std::vector<Item> items_;
    ItemValues values_;
    std::map<OPCHANDLE, FLOAT> deadbands_;  // by item handle
    DWORD keepAlive_ = 0;
    DWORD lastTransaction_ = 0;
};

}  // namespace fake
