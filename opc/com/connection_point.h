#pragma once
#include <wrl/client.h>
#include <ocidl.h>

// The one connection point of an object for one outgoing interface (IOPCShutdown of a server
// object, IOPCDataCallback of a group): at most one sink at a time. It is a part of its owner:
// AddRef and Release go to the owner, so the owner lives while a client holds the point, and
// GetConnectionPointContainer asks the owner for its IConnectionPointContainer. It answers
// QueryInterface for IUnknown and IConnectionPoint only.
//
// The sink itself is kept by the point's owner, its holder, which decides how the sink is
// called (a client's sink in another apartment is reached only through the client's delivery
// thread); the point keeps only whether a sink is connected and its cookie. Calls out to the
// client (asking the sink for the interface, the holder's taking and letting go of it) are made
// with the point's state already settled, since the client may call back into the point
// meanwhile.
class SinkHolder {
public:
    // Takes the sink the point accepted, answering the point's interface. A failure refuses
    // the connection with that result.
    virtual HRESULT TakeSink(Microsoft::WRL::ComPtr<IUnknown> sink) = 0;
    // Lets the connected sink go.
    virtual void DropSink() = 0;
    // The connected sink was found gone (its client's apartment ended): the point takes a new
    // one.
    virtual bool SinkGone() const = 0;
    // The connected sink as EnumConnections lists it; null when it cannot be listed.
    virtual Microsoft::WRL::ComPtr<IUnknown> ListedSink() const = 0;

protected:
    ~SinkHolder() = default;
};

class ConnectionPoint final : public IConnectionPoint {
public:
    ConnectionPoint(IUnknown& owner, REFIID sinkIid, SinkHolder& holder);
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return m_owner.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_owner.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) override;
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    // E_POINTER for a null sink or cookie, CONNECT_E_ADVISELIMIT while a sink is connected,
    // CONNECT_E_CANNOTCONNECT when the sink does not answer the outgoing interface, or what the
    // holder answers when it cannot take the sink.
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    // CONNECT_E_NOCONNECTION for a cookie that is not the connected sink's.
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    // A snapshot of the connections of this moment (none or one).
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    bool Connected() const { return m_cookie != 0; }

private:
    IUnknown& m_owner;
    const IID m_sinkIid;
    SinkHolder& m_holder;
    DWORD m_cookie = 0;  // the connected sink's; 0 while none is
    DWORD m_lastCookie = 0;
};
