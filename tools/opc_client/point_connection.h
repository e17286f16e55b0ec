#pragma once
// A sink connected to one connection point of a server's object, disconnected when it goes.
#include <windows.h>
#include <wrl/client.h>
#include <ocidl.h>

class PointConnection {
public:
    PointConnection() = default;
    ~PointConnection();
    PointConnection(const PointConnection&) = delete;
    PointConnection& operator=(const PointConnection&) = delete;

    // Finds `object`'s connection point for `sinkIid` and connects `sink` to it.
    HRESULT Connect(IUnknown* object, REFIID sinkIid, IUnknown* sink);

private:
    Microsoft::WRL::ComPtr<IConnectionPoint> m_point;
    DWORD m_cookie = 0;
};
