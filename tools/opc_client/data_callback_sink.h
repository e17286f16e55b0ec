#pragma once
// The client's OPC DA 2.0 data callback: every call the server makes through a group's
// connection point is printed, item by item, as it arrives. The calls come on the client's
// thread, so whoever waits for them must keep handling messages (PumpUntil).
#include <windows.h>
#include <wrl/client.h>

#include <vector>

#include "opc_da.h"

class PrintingCallback final : public IOPCDataCallback {
public:
    // A new callback with one reference, held by the returned pointer.
    static Microsoft::WRL::ComPtr<PrintingCallback> Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD dwTransid, OPCHANDLE hGroup,
                                           HRESULT hrMasterquality, HRESULT hrMastererror,
                                           DWORD dwCount, OPCHANDLE* phClientItems,
                                           VARIANT* pvValues, WORD* pwQualities,
                                           FILETIME* pftTimeStamps, HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                             HRESULT hrMasterquality, HRESULT hrMastererror,
                                             DWORD dwCount, OPCHANDLE* phClientItems,
                                             VARIANT* pvValues, WORD* pwQualities,
                                             FILETIME* pftTimeStamps, HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD dwTransid, OPCHANDLE hGroup,
                                              HRESULT hrMastererr, DWORD dwCount,
                                              OPCHANDLE* pClienthandles, HRESULT* pErrors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD dwTransid, OPCHANDLE hGroup) override;

    // From now on each call's first line starts with the local time it arrived.
    void StampArrivals() { m_stampArrivals = true; }
    // Data changes received so far (refreshes included), and the transaction IDs of every
    // call, in order.
    size_t DataChanges() const { return m_dataChanges; }
    // Keep-alives among them: data changes of no items.
    size_t KeepAlives() const { return m_keepAlives; }
    const std::vector<DWORD>& Transactions() const { return m_transactions; }

private:
    PrintingCallback() = default;
    ~PrintingCallback() = default;

    LONG m_refCount = 1;
    size_t m_dataChanges = 0;
    size_t m_keepAlives = 0;
    bool m_stampArrivals = false;
    std::vector<DWORD> m_transactions;
};
