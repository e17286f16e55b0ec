#include "opc/server/interface_registration_keeper.h"

#include <objbase.h>
#include <wrl/client.h>
#include <ocidl.h>

#include <new>

#include "opc/com/reference_counted.h"
#include "opc_da.h"

namespace {

// Every interface a client can reach across processes, on the server object, its groups, their
// connection points and their enumerators.
const IID* const kExportedInterfaces[] = {
    &IID_IUnknown,
    &IID_IOPCServer,
    &IID_IOPCBrowseServerAddressSpace,
    &IID_IOPCBrowse,
    &IID_IOPCItemIO,
    &IID_IPersist,
    &IID_IPersistFile,
    &IID_IEnumUnknown,
    &IID_IEnumString,
    &IID_IOPCGroupStateMgt,
    &IID_IOPCGroupStateMgt2,
    &IID_IOPCItemMgt,
    &IID_IOPCSyncIO,
    &IID_IOPCSyncIO2,
    &IID_IOPCAsyncIO,
    &IID_IOPCAsyncIO2,
    &IID_IOPCAsyncIO3,
    &IID_IOPCItemDeadbandMgt,
    &IID_IDataObject,
    &IID_IEnumOPCItemAttributes,
    &IID_IOPCCommon,
    &IID_IOPCItemProperties,
    &IID_IConnectionPointContainer,
    &IID_IConnectionPoint,
    &IID_IEnumConnectionPoints,
    &IID_IEnumConnections,
};

// Answers every exported interface with its IUnknown: the stubs made for it only hold the
// pointer, since no client ever receives the marshalled data and so no call reaches them.
class InterfaceKeeper final : public ReferenceCounted<InterfaceKeeper> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        for (const IID* exported : kExportedInterfaces) {
            if (riid != *exported) continue;
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
};

Microsoft::WRL::ComPtr<IUnknown> g_keeper;

}  // namespace

void KeepInterfacesRegistered()
{
    g_keeper = new (std::nothrow) InterfaceKeeper;
    if (!g_keeper) return;
    for (const IID* exported : kExportedInterfaces) {
        Microsoft::WRL::ComPtr<IStream> stream;
        if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) continue;
        // The table-strong marshal lives in the apartment until the keeper is disconnected; the
        // marshalled data itself is not needed.
        CoMarshalInterface(stream.Get(), *exported, g_keeper.Get(), MSHCTX_LOCAL, nullptr,
                           MSHLFLAGS_TABLESTRONG);
    }
}

void ReleaseInterfaceKeeper()
{
    if (!g_keeper) return;
    CoDisconnectObject(g_keeper.Get(), 0);
    g_keeper.Reset();
}
