#include "opc/server/class_factory.h"

#include "opc/server/caller_process.h"
#include "opc/server/server_capacity.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"

namespace {

void ServerObjectDestroyed()
{
    --g_objectCount;
}

}  // namespace

HRESULT ServerClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_INVALIDARG;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *ppv = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

ULONG ServerClassFactory::AddRef()
{
    return static_cast<ULONG>(++m_refCount);
}

ULONG ServerClassFactory::Release()
{
    const LONG count = --m_refCount;
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT ServerClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    if (ppv) *ppv = nullptr;
    if (pUnkOuter) return CLASS_E_NOAGGREGATION;
    if (!ppv) return E_INVALIDARG;
    const TraceClient caller{ClassFactoryCallerProcessId(), nullptr};
    ServerObject* object = ServerObject::Create(&ServerObjectDestroyed);
    if (!object) {
        SUPPORT_TRACE(caller, E_OUTOFMEMORY, "client refused: no memory for a server object");
        return E_OUTOFMEMORY;
    }
    // Beyond the limit's live objects the poll cycle could never serve it: refuse it rather
    // than hand out a server whose groups would never be updated.
    if (object->ServerTableIndex() == 0) {
        delete object;
        if (ServerTableFull()) {
            SUPPORT_TRACE(caller, E_OUTOFMEMORY,
                          "client refused: all %d server-table entries in use (the setting %s "
                          "raises the limit)",
                          CurrentServerCapacity().maxClients, kMaxClientsSetting);
        } else {
            SUPPORT_TRACE(caller, E_OUTOFMEMORY, "client refused: no memory for its entry");
        }
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = object->QueryInterface(riid, ppv);
    if (FAILED(hr)) {
        delete object;  // never handed out: no destroy notification
        return hr;
    }
    ++g_objectCount;
    object->Session()->WatchClient(caller.processId);
    SUPPORT_TRACE(caller, S_OK, "client connected: server object in entry %d%s",
                  object->ServerTableIndex(),
                  caller.processId ? "" : " (its process is not known: not watched)");
    return hr;
}

HRESULT ServerClassFactory::LockServer(BOOL fLock)
{
    if (fLock) {
        ++g_lockCount;
    } else {
        --g_lockCount;
    }
    return S_OK;
}
