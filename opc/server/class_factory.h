#pragma once
#include <unknwn.h>

// The class object COM start-up registers: every CreateInstance makes a new server object.
class ServerClassFactory final : public IClassFactory {
public:
    ServerClassFactory() = default;
    ServerClassFactory(const ServerClassFactory&) = delete;
    ServerClassFactory& operator=(const ServerClassFactory&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    // Counts up or down with no floor: unbalanced unlocks leave a negative count, which
    // still counts as in use.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

private:
    LONG m_refCount = 0;
};
