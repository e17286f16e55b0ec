#include "point_connection.h"

PointConnection::~PointConnection()
{
    if (m_point) m_point->Unadvise(m_cookie);
}

HRESULT PointConnection::Connect(IUnknown* object, REFIID sinkIid, IUnknown* sink)
{
    Microsoft::WRL::ComPtr<IConnectionPointContainer> container;
    HRESULT hr = object->QueryInterface(IID_PPV_ARGS(&container));
    Microsoft::WRL::ComPtr<IConnectionPoint> point;
    if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(sinkIid, &point);
    DWORD cookie = 0;
    if (SUCCEEDED(hr)) hr = point->Advise(sink, &cookie);
    if (FAILED(hr)) return hr;
    m_point = point;
    m_cookie = cookie;
    return S_OK;
}
