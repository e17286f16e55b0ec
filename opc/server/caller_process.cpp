#include "opc/server/caller_process.h"

#include <objbase.h>
#include <wrl/client.h>
#include <rpcdcep.h>

#include <cstddef>
#include <cstring>
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
// A marshal of the class object kept unread: it keeps the watching stub made for it alive, and
// COM hands out that stub again for every later marshal of the class object in this apartment.
ComPtr<IStream> g_pinnedStub;

// The Wine versions whose record of a call (WineCallRecord) has been checked.
constexpr const char* kKnownWineVersions[] = {"8.0"};

const char* RunningWineVersion()
{
    using VersionFunction = const char*(CDECL*)();
    const auto version = reinterpret_cast<VersionFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")));
    return version ? version() : nullptr;
}

// Under Wine the apartment thread runs a call with the message's handle pointing at the
// channel's record of the call. Its start, as Wine 8.0 lays it out (read from the debugging
// information of its combase.dll; the server is a 64-bit program):
struct WineCallRecord {
    RPC_BINDING_HANDLE binding;  // the RPC binding the call arrived on
    ULONG prefixLength;
    SChannelHookCallInfo hookInfo;
    BOOL withinProcess;  // the call came from another apartment of this process, not over RPC
};
static_assert(offsetof(WineCallRecord, withinProcess) == 72, "Wine 8.0's record on x64");

// For a call over a local (ncalrpc) connection the binding tells the client's process; a call
// from within this process carries the caller's own binding, which tells nothing.
DWORD CallingProcess(const RPCOLEMESSAGE& message)
{
    const auto* record = static_cast<const WineCallRecord*>(message.reserved1);
    if (!record || record->withinProcess || !record->binding) return 0;
    unsigned long processId = 0;
    if (I_RpcBindingInqLocalClientPID(record->binding, &processId) != RPC_S_OK) return 0;
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

bool ChannelRecordLayoutKnown(const char* wineVersion)
{
    if (!wineVersion) return false;
    for (const char* known : kKnownWineVersions) {
        if (strcmp(wineVersion, known) == 0) return true;
    }
    return false;
}

void WatchClassFactoryCallers(IClassFactory* classObject)
{
    if (!ChannelRecordLayoutKnown(RunningWineVersion())) return;
    CLSID standard;
    ComPtr<IPSFactoryBuffer> inner;
    if (FAILED(CoGetPSClsid(IID_IClassFactory, &standard)) ||
        FAILED(CoGetClassObject(standard, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&inner)))) {
        return;
    }
    ComPtr<IPSFactoryBuffer> watching = new (std::nothrow) WatchingFactory(inner);
    ComPtr<IStream> pinned;
    DWORD registration = 0;
    if (!watching || FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &pinned)) ||
        FAILED(CoRegisterClassObject(kWatchingFactoryClsid, watching.Get(), CLSCTX_INPROC_SERVER,
                                     REGCLS_MULTIPLEUSE, &registration))) {
        return;
    }
    // The route of an interface holds for the whole process, but a registered class object is
    // found only in the apartment that registered it: the route leads to the watching factory
    // only while the class object's stub is made, then back to COM's own for every apartment.
    if (SUCCEEDED(CoRegisterPSClsid(IID_IClassFactory, kWatchingFactoryClsid))) {
        if (SUCCEEDED(CoMarshalInterface(pinned.Get(), IID_IClassFactory, classObject, MSHCTX_LOCAL,
                                         nullptr, MSHLFLAGS_NORMAL))) {
            g_pinnedStub = pinned;
        }
        CoRegisterPSClsid(IID_IClassFactory, standard);
    }
    CoRevokeClassObject(registration);
}

void StopWatchingClassFactoryCallers()
{
    if (!g_pinnedStub) return;
    const LARGE_INTEGER start{};
    g_pinnedStub->Seek(start, STREAM_SEEK_SET, nullptr);
    CoReleaseMarshalData(g_pinnedStub.Get());
    g_pinnedStub.Reset();
}

DWORD ClassFactoryCallerProcessId()
{
    return g_callerProcessId;
}
