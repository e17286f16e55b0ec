#pragma once
// The client's IOPCShutdown sink: the server's shutdown notice is printed and kept.
#include <windows.h>
#include <wrl/client.h>

#include <string>

#include "opc_da.h"

class ShutdownListener final : public IOPCShutdown {
public:
    // A new listener with one reference, held by the returned pointer.
    static Microsoft::WRL::ComPtr<ShutdownListener> Create();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override;

    bool Notified() const { return m_notified; }

private:
    ShutdownListener() = default;
    ~ShutdownListener() = default;

    LONG m_refCount = 1;
    bool m_notified = false;
};
