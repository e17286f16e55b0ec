// An advise sink that keeps every stream it is handed, with the time it came, and readers of
// the streams' fields; in the server's process or, across processes, in a client's.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "opc_da.h"

struct ReceivedStream {
    CLIPFORMAT format;
    DWORD tymed;
    std::vector<BYTE> bytes;
    ULONGLONG arrivedMs;  // GetTickCount64 at arrival
};

class RecordingSink final : public IAdviseSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    // Lives on the stack, or as long as its owner: the count reaching 0 destroys nothing.
    ULONG STDMETHODCALLTYPE Release() override;
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    ULONG refs() const { return refs_; }
    std::vector<ReceivedStream> streams;
    // What a client does from within its callback, run once after the first stream is kept.
    std::function<void()> onFirstStream;
    // What a client does from within the Release that drops the count to 0 (across processes:
    // while the server releases its last reference); run once.
    std::function<void()> onLastRelease;

private:
    ULONG refs_ = 0;
};

// The registered numbers of the three stream formats.
CLIPFORMAT DataFormat();
CLIPFORMAT DataTimeFormat();
CLIPFORMAT WriteCompleteFormat();

// A decoded item of a data or data-with-time stream.
struct StreamItem {
    OPCHANDLE client;
    DWORD valueOffset;
    WORD quality;
    VARTYPE vt;
    LONG i4;  // the value's first 4 bytes
};
// The item headers of a data stream, each with its value's type and first four bytes.
std::vector<StreamItem> ItemsOf(const ReceivedStream& stream);
DWORD TransactionOf(const ReceivedStream& stream);
