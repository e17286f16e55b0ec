// A client's IOPCDataCallback that keeps every call it is given; in the server's process or,
// across processes, in a client's.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "opc_da.h"

struct CallbackRecord {
    enum Kind { DataChange, ReadComplete, WriteComplete, CancelComplete } kind;
    DWORD transactionId;
    OPCHANDLE group;
    HRESULT masterQuality;  // S_OK for a write or cancel completion
    HRESULT masterError;
    struct Item {
        OPCHANDLE client;
        LONG i4;  // the value as VT_I4 (0 for other types)
        WORD quality;
        HRESULT error;
    };
    std::vector<Item> items;
};

class RecordingCallback final : public IOPCDataCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    // Lives on the stack, or as long as its owner: the count reaching 0 destroys nothing.
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

    ULONG refs() const { return refs_; }
    std::vector<CallbackRecord> calls;
    // What a client does from within its callback, run once after the first call is kept.
    std::function<void()> onFirstCall;
    // Run after every call is kept, after onFirstCall.
    std::function<void()> onEveryCall;
    // What a client does from within the Release that drops the count to 0; run once.
    std::function<void()> onLastRelease;

private:
    void Keep(CallbackRecord record);

    ULONG refs_ = 0;
};

// "client=value" of each item of a record, joined by spaces.
std::string ItemValues(const CallbackRecord& record);
