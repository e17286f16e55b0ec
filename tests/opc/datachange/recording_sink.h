// An advise sink in the test's own process that keeps every stream it is handed, and a group
// with items, advise connections and asynchronous I/O for the data-change tests.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <vector>

#include "opc_da.h"
#include "tests/opc/group/item_test_group.h"

struct ReceivedStream {
    CLIPFORMAT format;
    DWORD tymed;
    std::vector<BYTE> bytes;
};

class RecordingSink final : public IAdviseSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs_; }   // lives on the stack
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override;
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    ULONG refs() const { return refs_; }
    std::vector<ReceivedStream> streams;

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
    LONG i4;          // the value's first 4 bytes
};
// The item headers of a data stream (with time when `withTime`), each with its value's type.
std::vector<StreamItem> ItemsOf(const ReceivedStream& stream);
DWORD TransactionOf(const ReceivedStream& stream);

class StreamTestGroup : public ItemTestGroup {
public:
    using ItemTestGroup::ItemTestGroup;

    IDataObject* Data();
    IOPCAsyncIO* Async();
    // Connects `sink` for the format; returns DAdvise's result.
    HRESULT Advise(CLIPFORMAT format, IAdviseSink* sink);
    void Pass(int32_t periodMs = 1000);

private:
    ComPtr<IDataObject> data_;
    ComPtr<IOPCAsyncIO> async_;
};
