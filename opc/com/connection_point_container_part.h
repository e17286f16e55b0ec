#pragma once
#include <olectl.h>
#include <ocidl.h>

#include "opc/com/connection_enumerators.h"
#include "opc/com/connection_point.h"
#include "opc/com/interface_part.h"

// IConnectionPointContainer of an object with exactly one connection point, the one that
// `Owner::OutgoingConnection()` gives (made on first request; null when memory is short).
template <class Owner>
class ConnectionPointContainerPart final : public InterfacePart<IConnectionPointContainer, Owner> {
public:
    using InterfacePart<IConnectionPointContainer, Owner>::InterfacePart;

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override
    {
        if (!ppEnum) return E_POINTER;
        *ppEnum = nullptr;
        IConnectionPoint* point = this->owner().OutgoingConnection();
        if (!point) return E_OUTOFMEMORY;
        return ConnectionPointEnumerator::Create(point, 1, &point, IID_IEnumConnectionPoints,
                                                 reinterpret_cast<void**>(ppEnum));
    }

    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        if (!ppCP) return E_POINTER;
        *ppCP = nullptr;
        ConnectionPoint* point = this->owner().OutgoingConnection();
        if (!point) return E_OUTOFMEMORY;
        IID outgoing;
        point->GetConnectionInterface(&outgoing);
        if (riid != outgoing) return CONNECT_E_NOCONNECTION;
        point->AddRef();
        *ppCP = point;
        return S_OK;
    }
};
