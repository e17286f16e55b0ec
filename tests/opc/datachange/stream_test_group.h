// A group with items, advise connections and asynchronous I/O, whose update passes the
// data-change tests run by hand.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <ocidl.h>

#include <cstdint>

#include "opc/values/item_value.h"
#include "opc_da.h"
#include "tests/opc/group/item_test_group.h"

class StreamTestGroup : public ItemTestGroup {
public:
    using ItemTestGroup::ItemTestGroup;

    IDataObject* Data();
    IOPCAsyncIO* Async();
    IOPCAsyncIO2* Async2();
    // The same part as IOPCAsyncIO2's.
    IOPCAsyncIO3* Async3();
    // The group's connection point for IOPCDataCallback.
    IConnectionPoint* CallbackPoint();
    // Connects `sink` through the connection point; returns Advise's result.
    HRESULT Connect(IUnknown* sink, DWORD* cookie = nullptr);
    // Connects `sink` for the format; returns DAdvise's result.
    HRESULT Advise(CLIPFORMAT format, IAdviseSink* sink);
    void Pass(int32_t periodMs = 1000, const FILETIME& cycleTime = CurrentUtcTime());

private:
    ComPtr<IDataObject> data_;
    ComPtr<IOPCAsyncIO> async_;
    ComPtr<IOPCAsyncIO2> async2_;
    ComPtr<IOPCAsyncIO3> async3_;
    ComPtr<IConnectionPoint> point_;
};
