#pragma once
// The client's advise sink: every stream the server sends is printed, item by item, as it
// arrives. OnDataChange comes as a call on the client's thread, so whoever waits for streams
// must keep handling messages (PumpUntil, message_pump.h).
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <vector>

#include "message_pump.h"
#include "opc_da.h"
#include "stream_reader.h"

class PrintingSink final : public IAdviseSink {
public:
    // A new sink with one reference, held by the returned pointer.
    static Microsoft::WRL::ComPtr<PrintingSink> Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    // Streams received so far, and the transaction IDs they carried, in order.
    size_t Callbacks() const { return m_callbacks; }
    const std::vector<DWORD>& Transactions() const { return m_transactions; }

private:
    PrintingSink() = default;
    ~PrintingSink() = default;
    // Reads the stream and prints it, item by item; a malformed one is named as such.
    void PrintStream(FORMATETC* format, STGMEDIUM* medium);

    LONG m_refCount = 1;
    size_t m_callbacks = 0;
    std::vector<DWORD> m_transactions;
};

// The registered number of a stream format.
CLIPFORMAT StreamFormat(StreamKind kind);

// A group's advise connections for some stream formats, undone when it goes.
class AdviseConnections {
public:
    AdviseConnections() = default;
    ~AdviseConnections();
    AdviseConnections(const AdviseConnections&) = delete;
    AdviseConnections& operator=(const AdviseConnections&) = delete;

    // Asks `group` for IDataObject and connects `sink` for each kind.
    HRESULT Connect(IUnknown* group, IAdviseSink* sink, const std::vector<StreamKind>& kinds);

private:
    Microsoft::WRL::ComPtr<IDataObject> m_data;
    std::vector<DWORD> m_tokens;
};
