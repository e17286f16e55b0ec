#include "fake_connection_point.h"

#include "fake_values.h"

#include <olectl.h>
#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace fake {
namespace {

// The arguments of OnDataChange and OnReadComplete for items 1..kCallbackCount.
struct CallbackItems {
    CallbackItems()
    {
        for (OPCHANDLE h = 1; h <= kCallbackCount; ++h) {
            handles.push_back(client_handle_of(h));
            values.emplace_back();
            initial_value(h, &values.back());
            qualities.push_back(quality_of(h));
            timestamps.push_back(timestamp_of(h));
            errors.push_back(callback_error_of(h));
        }
    }
    ~CallbackItems()
    {
        for (VARIANT& value : values) VariantClear(&value);
    }
    std::vector<OPCHANDLE> handles;
    std::vector<VARIANT> values;
    std::vector<WORD> qualities;
    std::vector<FILETIME> timestamps;
    std::vector<HRESULT> errors;
};

HRESULT call_data_callback(IOPCDataCallback* sink)
{
    CallbackItems items;
    HRESULT hr =
        sink->OnDataChange(kCallbackTransaction, kCallbackGroup, kMasterQuality, kMasterError,
                           kCallbackCount, items.handles.data(), items.values.data(),
                           items.qualities.data(), items.timestamps.data(), items.errors.data());
    if (SUCCEEDED(hr))
        hr = sink->OnReadComplete(kCallbackTransaction + 1, kCallbackGroup, kMasterQuality,
                                  kMasterError, kCallbackCount, items.handles.data(),
                                  items.values.data(), items.qualities.data(),
                                  items.timestamps.data(), items.errors.data());
    if (SUCCEEDED(hr))
        hr = sink->OnWriteComplete(kCallbackTransaction + 2, kCallbackGroup, kMasterError,
                                   kCallbackCount, items.handles.data(), items.errors.data());
    if (SUCCEEDED(hr)) hr = sink->OnCancelComplete(kCancelTransaction, kCallbackGroup);
    return hr;
}

class ConnectionPoint : public ComObject<IConnectionPoint> {
public:
    explicit ConnectionPoint(REFIID sinkIid) : sinkIid_(sinkIid) {}

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override
    {
        if (!pIID) return E_POINTER;
        *pIID = sinkIid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override
    {
        if (!pUnkSink || !pdwCookie) return E_POINTER;
        HRESULT hr = E_NOINTERFACE;
        if (sinkIid_ == IID_IOPCShutdown) {
            ComPtr<IOPCShutdown> sink;
            hr = pUnkSink->QueryInterface(IID_PPV_ARGS(&sink));
            if (SUCCEEDED(hr)) hr = sink->ShutdownRequest(kShutdownReason);
        } else {
            ComPtr<IOPCDataCallback> sink;
            hr = pUnkSink->QueryInterface(IID_PPV_ARGS(&sink));
            if (SUCCEEDED(hr)) hr = call_data_callback(sink.Get());
        }
        if (FAILED(hr)) return CONNECT_E_CANNOTCONNECT;
        *pdwCookie = kCookie;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override
    {
        return dwCookie == kCookie ? S_OK : CONNECT_E_NOCONNECTION;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

private:
    const IID sinkIid_;
};

}  // namespace

HRESULT make_connection_point(REFIID sinkIid, IConnectionPoint** ppCP)
{
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    if (sinkIid != IID_IOPCShutdown && sinkIid != IID_IOPCDataCallback)
        return CONNECT_E_NOCONNECTION;
    return hand_out(new ConnectionPoint(sinkIid), IID_IConnectionPoint,
                    reinterpret_cast<void**>(ppCP));
}

}  // namespace fake
