#include "opc/com/connection_point.h"

#include <olectl.h>

#include <utility>

#include "opc/com/connection_enumerators.h"

ConnectionPoint::ConnectionPoint(IUnknown& owner, REFIID sinkIid, SinkHolder& holder)
    : m_owner(owner), m_sinkIid(sinkIid), m_holder(holder)
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
    if (m_cookie && m_holder.SinkGone()) {
        m_cookie = 0;
        m_holder.DropSink();
    }
    if (m_cookie) return CONNECT_E_ADVISELIMIT;
    Microsoft::WRL::ComPtr<IUnknown> sink;
    if (FAILED(
            pUnkSink->QueryInterface(m_sinkIid, reinterpret_cast<void**>(sink.GetAddressOf()))) ||
        !sink) {
        return CONNECT_E_CANNOTCONNECT;
    }
    // The question went to the client, which may have connected another sink meanwhile; the
    // sink asked is then let go on leaving.
    if (m_cookie) return CONNECT_E_ADVISELIMIT;
    // 0 is never a cookie, so that it cannot match "none connected". The point is taken
    // before the holder, which may call the client, gets the sink.
    if (++m_lastCookie == 0) ++m_lastCookie;
    const DWORD cookie = m_lastCookie;
    m_cookie = cookie;
    const HRESULT taken = m_holder.TakeSink(std::move(sink));
    if (FAILED(taken)) {
        if (m_cookie == cookie) m_cookie = 0;
        return taken;
    }
    *pdwCookie = cookie;
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie)
{
    if (!m_cookie || dwCookie != m_cookie) return CONNECT_E_NOCONNECTION;
    // Out of the point first: letting the sink go may come back into it.
    m_cookie = 0;
    m_holder.DropSink();
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum)
{
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    const Microsoft::WRL::ComPtr<IUnknown> sink = m_cookie ? m_holder.ListedSink() : nullptr;
    CONNECTDATA connection = {sink.Get(), m_cookie};
    return ConnectionEnumerator::Create(static_cast<IConnectionPoint*>(this), sink ? 1 : 0,
                                        &connection, IID_IEnumConnections,
                                        reinterpret_cast<void**>(ppEnum));
}
