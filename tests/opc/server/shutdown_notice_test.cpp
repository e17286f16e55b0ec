// The shutdown notice to the sinks of this apartment: every connected sink hears the reason in
// its server object's locale, and a sink may unadvise and let its server go from the notice.
#include <gtest/gtest.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <vector>

#include "opc/server/shutdown_notice.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

class ShutdownSink : public IOPCShutdown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IOPCShutdown ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR szReason) override
    {
        reasons.emplace_back(szReason ? szReason : L"(null)");
        if (onNotice) onNotice();
        return S_OK;
    }

    ULONG references = 0;
    std::vector<std::wstring> reasons;
    std::function<void()> onNotice;
};

// Connects `sink` to the server's IOPCShutdown point and returns the point; *cookie receives
// the connection's cookie.
ComPtr<IConnectionPoint> Connect(IOPCServer* server, IOPCShutdown* sink, DWORD* cookie)
{
    ComPtr<IConnectionPointContainer> container;
    EXPECT_EQ(S_OK, server->QueryInterface(IID_PPV_ARGS(&container)));
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCShutdown, &point));
    EXPECT_EQ(S_OK, point->Advise(sink, cookie));
    return point;
}

TEST(ShutdownNotice, EveryConnectedSinkHearsTheReasonInItsLocale)
{
    ComPtr<IOPCServer> english = NewServer(), chinese = NewServer(), unconnected = NewServer();
    ComPtr<IOPCCommon> common;
    ASSERT_EQ(S_OK, chinese.As(&common));
    ASSERT_EQ(S_OK, common->SetLocaleID(0x0804));
    ShutdownSink englishSink, chineseSink;
    DWORD englishCookie = 0, chineseCookie = 0;
    ComPtr<IConnectionPoint> englishPoint = Connect(english.Get(), &englishSink, &englishCookie);
    ComPtr<IConnectionPoint> chinesePoint = Connect(chinese.Get(), &chineseSink, &chineseCookie);

    EXPECT_EQ(2, NotifyClientsOfShutdown(0));
    EXPECT_EQ(2, NotifyClientsOfShutdown(0, ShutdownCause::SessionEnding));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"The OPC server is shutting down.",
                  L"Windows is ending the session: the OPC server is shutting down."}),
              englishSink.reasons);
    EXPECT_EQ((std::vector<std::wstring>{L"OPC 服务器正在关闭。",
                                         L"Windows 正在结束会话，OPC 服务器正在关闭。"}),
              chineseSink.reasons);

    // Still connected: the client unadvises as it lets go.
    EXPECT_EQ(S_OK, englishPoint->Unadvise(englishCookie));
    EXPECT_EQ(S_OK, chinesePoint->Unadvise(chineseCookie));
    EXPECT_EQ(0, NotifyClientsOfShutdown(0)) << "no sink left";
    EXPECT_EQ(0u, englishSink.references);
    EXPECT_EQ(0u, chineseSink.references);
}

TEST(ShutdownNotice, ASinkMayUnadviseAndReleaseItsServerFromTheNotice)
{
    ShutdownSink first, second;
    DWORD firstCookie = 0, secondCookie = 0;
    ComPtr<IOPCServer> firstServer = NewServer(), secondServer = NewServer();
    ComPtr<IConnectionPoint> firstPoint = Connect(firstServer.Get(), &first, &firstCookie);
    ComPtr<IConnectionPoint> secondPoint = Connect(secondServer.Get(), &second, &secondCookie);
    // Each client lets go of everything from its notice, the other's server object included.
    first.onNotice = [&] {
        EXPECT_EQ(S_OK, firstPoint->Unadvise(firstCookie));
        firstPoint.Reset();
        firstServer.Reset();
        EXPECT_EQ(S_OK, secondPoint->Unadvise(secondCookie));
        secondPoint.Reset();
        secondServer.Reset();
    };
    EXPECT_EQ(2, NotifyClientsOfShutdown(0));
    EXPECT_EQ(1u, first.reasons.size());
    EXPECT_EQ(1u, second.reasons.size()) << "taken before any sink was called";
    EXPECT_EQ(0u, first.references);
    EXPECT_EQ(0u, second.references);
}

// A message that ends the server, dispatched while the notice is waited for, calls the notice
// again: it sends nothing more and waits for the notice already under way.
TEST(ShutdownNotice, ACallDuringTheNoticeSendsItNoSecondTime)
{
    ComPtr<IOPCServer> server = NewServer();
    ShutdownSink sink;
    DWORD cookie = 0;
    ComPtr<IConnectionPoint> point = Connect(server.Get(), &sink, &cookie);
    int answeredWithin = -1;
    sink.onNotice = [&] { answeredWithin = NotifyClientsOfShutdown(0); };
    EXPECT_EQ(1, NotifyClientsOfShutdown(0));
    EXPECT_EQ(1u, sink.reasons.size());
    EXPECT_EQ(0, answeredWithin) << "the notice being made had not come back yet";
    sink.onNotice = nullptr;
    EXPECT_EQ(1, NotifyClientsOfShutdown(0)) << "a later notice is sent again";
    EXPECT_EQ(2u, sink.reasons.size());
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
}

}  // namespace
