// The single-sink connection point and the container part of an object with one point: the
// rules of Advise, Unadvise and the enumerators, with sinks that call back into the point.
#include <olectl.h>
#include <wrl/client.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <utility>

#include "opc/com/connection_point.h"
#include "opc/com/connection_point_container_part.h"
#include "opc_da.h"

using Microsoft::WRL::ComPtr;

namespace {

// Keeps the connected sink as an owner that calls it at once does.
struct Holder : SinkHolder {
    HRESULT TakeSink(ComPtr<IUnknown> sink) override
    {
        held = std::move(sink);
        return S_OK;
    }
    void DropSink() override { const ComPtr<IUnknown> leaving = std::move(held); }
    bool SinkGone() const override { return false; }
    ComPtr<IUnknown> ListedSink() const override { return held; }

    ComPtr<IUnknown> held;
};

// An owner as a server object or group is one: its reference count, its container part, and
// its one connection point for IOPCShutdown with the sink's holder.
class Owner : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) *ppv = static_cast<IUnknown*>(this);
        if (riid == IID_IConnectionPointContainer) *ppv = &container;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ConnectionPoint* OutgoingConnection() { return &point; }

    ULONG references = 0;
    Holder holder;
    ConnectionPoint point{*this, IID_IOPCShutdown, holder};
    ConnectionPointContainerPart<Owner> container{*this};
};

// A client sink; `answers` says whether it is an IOPCShutdown, and the hooks call back into the
// point from inside its QueryInterface and its last Release.
class Sink : public IOPCShutdown {
public:
    explicit Sink(bool answers = true) : answers_(answers) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (onQuery) std::exchange(onQuery, nullptr)();
        *ppv = nullptr;
        if (riid == IID_IUnknown || (answers_ && riid == IID_IOPCShutdown)) *ppv = this;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references;
        if (left == 0 && onLastRelease) std::exchange(onLastRelease, nullptr)();
        return left;
    }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) override { return S_OK; }

    ULONG references = 0;
    std::function<void()> onQuery;
    std::function<void()> onLastRelease;

private:
    bool answers_;
};

TEST(ConnectionPoint, AdviseAndUnadviseRules)
{
    Owner owner;
    ConnectionPoint& point = owner.point;
    Sink first, second, stranger(false);
    DWORD cookie = 7;
    EXPECT_EQ(E_POINTER, point.Advise(nullptr, &cookie));
    EXPECT_EQ(E_POINTER, point.Advise(&first, nullptr));
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, point.Advise(&stranger, &cookie));
    EXPECT_EQ(0u, stranger.references) << "a refused sink is not kept";
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point.Unadvise(0)) << "nothing connected";

    ASSERT_EQ(S_OK, point.Advise(&first, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(1u, first.references);
    EXPECT_EQ(static_cast<IUnknown*>(&first), owner.holder.held.Get());
    DWORD secondCookie = 7;
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, point.Advise(&second, &secondCookie));
    EXPECT_EQ(0u, secondCookie);
    EXPECT_EQ(0u, second.references);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point.Unadvise(cookie + 1)) << "a wrong cookie";
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point.Unadvise(0));

    ASSERT_EQ(S_OK, point.Unadvise(cookie));
    EXPECT_EQ(0u, first.references);
    EXPECT_EQ(nullptr, owner.holder.held.Get());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point.Unadvise(cookie)) << "only once";
    ASSERT_EQ(S_OK, point.Advise(&second, &secondCookie)) << "free again after Unadvise";
    EXPECT_NE(cookie, secondCookie) << "a new connection has a new cookie";
    EXPECT_EQ(S_OK, point.Unadvise(secondCookie));
    EXPECT_EQ(0u, owner.references);
}

TEST(ConnectionPoint, ClientsCallingBackMeetASettledPoint)
{
    Owner owner;
    ConnectionPoint& point = owner.point;
    Sink asked, other, again;
    DWORD cookie = 0, otherCookie = 0, againCookie = 0;
    HRESULT fromRelease = E_FAIL;

    // While it is asked for the interface the client connects another sink: that one keeps the
    // point, the asked one is refused and let go.
    asked.onQuery = [&] { EXPECT_EQ(S_OK, point.Advise(&other, &otherCookie)); };
    EXPECT_EQ(CONNECT_E_ADVISELIMIT, point.Advise(&asked, &cookie));
    EXPECT_EQ(0u, asked.references);
    EXPECT_EQ(static_cast<IUnknown*>(&other), owner.holder.held.Get());

    // The sink's last Release, inside Unadvise, connects anew: the point is already free.
    other.onLastRelease = [&] { fromRelease = point.Advise(&again, &againCookie); };
    ASSERT_EQ(S_OK, point.Unadvise(otherCookie));
    EXPECT_EQ(S_OK, fromRelease);
    EXPECT_EQ(static_cast<IUnknown*>(&again), owner.holder.held.Get());

    // And one that unadvises itself again from its Release finds no connection left.
    again.onLastRelease = [&] { fromRelease = point.Unadvise(againCookie); };
    ASSERT_EQ(S_OK, point.Unadvise(againCookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, fromRelease);
}

TEST(ConnectionPoint, ConnectionsAndContainerAnswerForTheOnePoint)
{
    Owner owner;
    ConnectionPoint& point = owner.point;
    IID iid{};
    ASSERT_EQ(S_OK, point.GetConnectionInterface(&iid));
    EXPECT_EQ(IID_IOPCShutdown, iid);
    EXPECT_EQ(E_POINTER, point.GetConnectionInterface(nullptr));
    {
        ComPtr<IConnectionPointContainer> container;
        ASSERT_EQ(S_OK, point.GetConnectionPointContainer(&container));
        EXPECT_EQ(&owner.container, container.Get());
        ComPtr<IConnectionPoint> found;
        EXPECT_EQ(CONNECT_E_NOCONNECTION,
                  container->FindConnectionPoint(IID_IOPCDataCallback, &found));
        EXPECT_EQ(nullptr, found.Get());
        EXPECT_EQ(E_POINTER, container->FindConnectionPoint(IID_IOPCShutdown, nullptr));
        ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &found));
        EXPECT_EQ(&point, found.Get());
        EXPECT_EQ(2u, owner.references) << "the point counts on its owner";

        ComPtr<IEnumConnectionPoints> points;
        ASSERT_EQ(S_OK, container->EnumConnectionPoints(&points));
        IConnectionPoint* listed[2] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, points->Next(2, listed, &fetched));
        ASSERT_EQ(1u, fetched);
        EXPECT_EQ(&point, listed[0]);
        listed[0]->Release();
    }
    EXPECT_EQ(0u, owner.references);

    Sink sink;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point.Advise(&sink, &cookie));
    for (bool connected : {true, false}) {
        ComPtr<IEnumConnections> connections;
        ASSERT_EQ(S_OK, point.EnumConnections(&connections));
        CONNECTDATA data[2] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, connections->Next(2, data, &fetched));
        ASSERT_EQ(connected ? 1u : 0u, fetched);
        if (connected) {
            EXPECT_EQ(static_cast<IUnknown*>(&sink), data[0].pUnk);
            EXPECT_EQ(cookie, data[0].dwCookie);
            data[0].pUnk->Release();
            ASSERT_EQ(S_OK, point.Unadvise(cookie));
        }
        connections.Reset();
        EXPECT_EQ(0u, sink.references) << "a snapshot lets go of its sink";
    }
    EXPECT_EQ(E_POINTER, point.EnumConnections(nullptr));
}

}  // namespace
