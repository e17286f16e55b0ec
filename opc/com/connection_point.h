#pragma once
#include <wrl/client.h>
#include <ocidl.h>

// The one connection point of an object for one outgoing interface (IOPCShutdown of a server
// object, IOPCDataCallback of a group): at most one sink at a time. It is a part of its owner:
// AddRef and Release go to the owner, so the owner lives while a client holds the point, and
// GetConnectionPointContainer asks the owner for its IConnectionPointContainer. It answers
// QueryInterface for IUnknown and IConnectionPoint only.
//
// Calls out to the client (asking the sink for the interface, releasing it) are made with the
// point's state already settled, since the client may call back into the point meanwhile.
// What an owner that routes its calls by the sink learns of the point's connections; told once
// the point is settled, and may call the client itself.
class ConnectionObserver {
public:
    virtual void SinkConnected(IUnknown& sink) = 0;
    virtual void SinkDisconnected() = 0;

protected:
    ~ConnectionObserver() = default;
};

class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IUnknown& owner, REFIID sinkIid, ConnectionObserver* observer = nullptr);
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return m_owner.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_owner.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    // E_POINTER for a null sink or cookie, CONNECT_E_ADVISELIMIT while a sink is connected,
    // CONNECT_E_CANNOTCONNECT when the sink does not answer the outgoing interface.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    // CONNECT_E_NOCONNECTION for a cookie that is not the connected sink's.
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    // A snapshot of the connections of this moment (none or one).
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    // The connected sink as `Sink` with a reference for the caller, who calls it through that
    // reference; null when none is connected or `Sink` is not the outgoing interface.
    template <class Sink>
    Microsoft::WRL::ComPtr<Sink> ConnectedSink() const
    {
        if (__uuidof(Sink) != m_sinkIid) return nullptr;
        return Microsoft::WRL::ComPtr<Sink>(static_cast<Sink*>(m_sink.Get()));
    }

private:
    IUnknown& m_owner;
    const IID m_sinkIid;
    ConnectionObserver* const m_observer;     // may be null
    Microsoft::WRL::ComPtr<IUnknown> m_sink;  // the pointer the sink gave for m_sinkIid
    DWORD m_cookie = 0;                       // the connected sink's; 0 while none is
    DWORD m_lastCookie = 0;
};
