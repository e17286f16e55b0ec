#include "opc/server/caller_process.h"

#include <objbase.h>
#include <wrl/client.h>
#include <rpcdcep.h>

#include <new>
#include <utility>

#include "opc/com/reference_counted.h"

using Microsoft::WRL::ComPtr;

namespace {

// {5C0E2D6B-7A1F-4E39-9B52-3D8A61C4F0A7}: the watching proxy/stub factory, registered in this
// process only.
constexpr CLSID kWatchingFactoryClsid = {
    0x5c0e2d6b, 0x7a1f, 0x4e39, {0x9b, 0x52, 0x3d, 0x8a, 0x61, 0xc4, 0xf0, 0xa7}};
constexpr ULONG kCreateInstanceMethod = 3;  // after IUnknown's three

DWORD g_callerProcessId = 0;
DWORD g_factoryRegistration = 0;

bool RunningUnderWine()
{
    static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version");
    return wine;
}

// The message's handle is the RPC binding the call arrived on; under Wine the apartment thread
// runs the call with it pointing at the channel's record of the call instead, whose first
// member is that binding. For a local (ncalrpc) connection the binding tells the client's
// process.
DWORD CallingProcess(const RPCOLEMESSAGE& message)
{
    if (!message.reserved1) return 0;
    RPC_BINDING_HANDLE binding = RunningUnderWine()
                                     ? *static_cast<RPC_BINDING_HANDLE*>(message.reserved1)
                                     : static_cast<RPC_BINDING_HANDLE>(message.reserved1);
    unsigned long processId = 0;
    if (!binding || I_RpcBindingInqLocalClientPID(binding, &processId) != RPC_S_OK) return 0;
    return processId == GetCurrentProcessId() ? 0 : processId;
}

// COM's IClassFactory stub with the caller recorded around CreateInstance.
class WatchingStub final : public ReferenceCounted<WatchingStub, IRpcStubBuffer> {
public:
    explicit WatchingStub(ComPtr<IRpcStubBuffer> inner) : m_inner(std::move(inner)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IRpcStubBuffer) return E_NOINTERFACE;
        *ppv = static_cast<IRpcStubBuffer*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Connect(IUnknown* server) override
    {
        return m_inner->Connect(server);
    }
    void STDMETHODCALLTYPE Disconnect() override { m_inner->Disconnect(); }
    HRESULT STDMETHODCALLTYPE Invoke(RPCOLEMESSAGE* message, IRpcChannelBuffer* channel) override
    {
        if (!message || message->iMethod != kCreateInstanceMethod) {
            return m_inner->Invoke(message, channel);
        }
        // A nested call during CreateInstance would be another Invoke: restore what it replaced.
        const DWORD outer = g_callerProcessId;
        g_callerProcessId = CallingProcess(*message);
        const HRESULT hr = m_inner->Invoke(message, channel);
        g_callerProcessId = outer;
        return hr;
    }
    IRpcStubBuffer* STDMETHODCALLTYPE IsIIDSupported(REFIID riid) override
    {
        return m_inner->IsIIDSupported(riid) ? this : nullptr;
    }
    ULONG STDMETHODCALLTYPE CountRefs() override { return m_inner->CountRefs(); }
    HRESULT STDMETHODCALLTYPE DebugServerQueryInterface(void** ppv) override
    {
        return m_inner->DebugServerQueryInterface(ppv);
    }
    void STDMETHODCALLTYPE DebugServerRelease(void* pv) override
    {
        m_inner->DebugServerRelease(pv);
    }

private:
    ComPtr<IRpcStubBuffer> m_inner;
};

// COM's proxy/stub factory for IClassFactory, handing out watching stubs.
class WatchingFactory final : public ReferenceCounted<WatchingFactory, IPSFactoryBuffer> {
public:
    explicit WatchingFactory(ComPtr<IPSFactoryBuffer> inner) : m_inner(std::move(inner)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IPSFactoryBuffer) return E_NOINTERFACE;
        *ppv = static_cast<IPSFactoryBuffer*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateProxy(IUnknown* outer, REFIID riid, IRpcProxyBuffer** proxy,
                                          void** ppv) override
    {
        return m_inner->CreateProxy(outer, riid, proxy, ppv);
    }
    HRESULT STDMETHODCALLTYPE CreateStub(REFIID riid, IUnknown* server,
                                         IRpcStubBuffer** stub) override
    {
        if (!stub) return E_INVALIDARG;
        *stub = nullptr;
        ComPtr<IRpcStubBuffer> inner;
        const HRESULT hr = m_inner->CreateStub(riid, server, &inner);
        if (FAILED(hr)) return hr;
        ComPtr<IRpcStubBuffer> watching = new (std::nothrow) WatchingStub(inner);
        if (!watching) return E_OUTOFMEMORY;
        *stub = watching.Detach();
        return S_OK;
    }

private:
    ComPtr<IPSFactoryBuffer> m_inner;
};

}  // namespace

void WatchClassFactoryCallers()
{
    CLSID standard;
    ComPtr<IPSFactoryBuffer> inner;
    if (FAILED(CoGetPSClsid(IID_IClassFactory, &standard)) ||
        FAILED(CoGetClassObject(standard, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&inner)))) {
        return;
    }
    ComPtr<IPSFactoryBuffer> watching = new (std::nothrow) WatchingFactory(inner);
    if (!watching) return;
    if (FAILED(CoRegisterClassObject(kWatchingFactoryClsid, watching.Get(), CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &g_factoryRegistration))) {
        g_factoryRegistration = 0;
        return;
    }
    if (FAILED(CoRegisterPSClsid(IID_IClassFactory, kWatchingFactoryClsid))) {
        StopWatchingClassFactoryCallers();
    }
}

void StopWatchingClassFactoryCallers()
{
    if (!g_factoryRegistration) return;
    CoRevokeClassObject(g_factoryRegistration);
    g_factoryRegistration = 0;
}

DWORD ClassFactoryCallerProcessId()
{
    return g_callerProcessId;
}
