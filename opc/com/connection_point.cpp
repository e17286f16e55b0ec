#include "opc/com/connection_point.h"

#include <olectl.h>

#include <utility>

#include "opc/com/connection_enumerators.h"

ConnectionPoint::ConnectionPoint(IUnknown& owner, REFIID sinkIid, ConnectionObserver* observer)
    : m_owner(owner), m_sinkIid(sinkIid), m_observer(observer)
{
}

HRESULT ConnectionPoint::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* pIID)
{
    if (!pIID) return E_POINTER;
    *pIID = m_sinkIid;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC)
{
    if (!ppCPC) return E_POINTER;
    *ppCPC = nullptr;
    return m_owner.QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(ppCPC));
}

HRESULT ConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie)
{
    if (!pUnkSink || !pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (m_sink) return CONNECT_E_ADVISELIMIT;
    Microsoft::WRL::ComPtr<IUnknown> sink;
    if (FAILED(
            pUnkSink->QueryInterface(m_sinkIid, reinterpret_cast<void**>(sink.GetAddressOf()))) ||
        !sink) {
        return CONNECT_E_CANNOTCONNECT;
    }
    // The question went to the client, which may have connected another sink meanwhile; the
    // sink asked is then let go on leaving, after the point is settled.
    if (m_sink) return CONNECT_E_ADVISELIMIT;
    m_sink = std::move(sink);
    // 0 is never a cookie, so that it cannot match "none connected".
    if (++m_lastCookie == 0) ++m_lastCookie;
    m_cookie = m_lastCookie;
    *pdwCookie = m_cookie;
    if (m_observer) {
        // Held: the observer may call the client, which may unadvise meanwhile.
        const Microsoft::WRL::ComPtr<IUnknown> connected = m_sink;
        m_observer->SinkConnected(*connected.Get());
    }
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie)
{
    if (!m_sink || dwCookie != m_cookie) return CONNECT_E_NOCONNECTION;
    // Out of the point first: the sink's Release may come back into it.
    const Microsoft::WRL::ComPtr<IUnknown> leaving = std::move(m_sink);
    m_cookie = 0;
    if (m_observer) m_observer->SinkDisconnected();
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    CONNECTDATA connection = {m_sink.Get(), m_cookie};
    return ConnectionEnumerator::Create(static_cast<IConnectionPoint*>(this), m_sink ? 1 : 0,
                                        &connection, IID_IEnumConnections,
                                        reinterpret_cast<void**>(ppEnum));
}
