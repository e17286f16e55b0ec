#include "opc/datachange/dead_sink_report.h"

#include <gtest/gtest.h>

#include <ocidl.h>

#include <thread>

#include "opc/server/ended_client_reclaim.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "proxy_registration.h"
#include "server_identity.h"
#include "tests/opc/datachange/recording_callback.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/server/com_server_test_support.h"
#include "tests/support/beside_this_program.h"

namespace {

TEST(DeadSinkReport, ReportsFromADeliveryThreadReachTheMainThreadOnceInOrder)
{
    TakeDeadSinkReports();
    std::thread delivery([] {
        ReportDeadSink(7);
        ReportDeadSink(9);
    });
    delivery.join();
    EXPECT_EQ((std::vector<DWORD>{7, 9}), TakeDeadSinkReports());
    EXPECT_TRUE(TakeDeadSinkReports().empty()) << "each report is taken once";
}

// An advise sink or a data callback in an apartment of its own thread, reached through a proxy
// as a client's sink is; the apartment can end, as a client's does when its process ends.
template <class Sink>
class SinkInOtherApartment {
public:
    SinkInOtherApartment() : thread_([this] { Serve(); })
    {
        WaitForSingleObject(ready_, 10000);
        CoGetInterfaceAndReleaseStream(marshalled_, IID_PPV_ARGS(&proxy_));
    }
    ~SinkInOtherApartment()
    {
        proxy_.Reset();
        End();
        CloseHandle(ready_);
    }
    SinkInOtherApartment(const SinkInOtherApartment&) = delete;
    SinkInOtherApartment& operator=(const SinkInOtherApartment&) = delete;

    IUnknown* Proxy() const { return proxy_.Get(); }
    void End()
    {
        if (!thread_.joinable()) return;
        PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
        thread_.join();
    }

private:
    void Serve()
    {
        CoInitialize(nullptr);
        {
            Sink sink;
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before a post
            threadId_ = GetCurrentThreadId();
            CoMarshalInterThreadInterfaceInStream(IID_IUnknown, &sink, &marshalled_);
            SetEvent(ready_);
            while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
            CoDisconnectObject(&sink, 0);
        }
        CoUninitialize();
    }

    HANDLE ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD threadId_ = 0;
    IStream* marshalled_ = nullptr;
    ComPtr<IUnknown> proxy_;
    std::thread thread_;  // last: it starts once the members it uses are made
};

// A server object whose group sends one item to `sink` through the delivery thread: as a
// stream to an advise sink, or to a data callback.
ComPtr<ServerObject> SubscribedServer(IUnknown* sink)
{
    ComPtr<ServerObject> object(ServerObject::Create(nullptr));
    ComPtr<IOPCServer> server;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_PPV_ARGS(&server)));
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), nullptr);
    ComPtr<IOPCItemMgt> items;
    ComPtr<IDataObject> data;
    EXPECT_EQ(S_OK, group.As(&items));
    EXPECT_EQ(S_OK, group.As(&data));
    OPCITEMDEF definition{};
    definition.szItemID = const_cast<LPWSTR>(L"INT");
    definition.bActive = TRUE;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_EQ(S_OK, items->AddItems(1, &definition, &results, &errors));
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    ComPtr<IAdviseSink> adviseSink;
    DWORD connection = 0;
    if (SUCCEEDED(sink->QueryInterface(IID_PPV_ARGS(&adviseSink)))) {
        FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        EXPECT_EQ(S_OK, data->DAdvise(&format, 0, adviseSink.Get(), &connection));
        return object;
    }
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(S_OK, group.As(&container));
    EXPECT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, &point));
    EXPECT_EQ(S_OK, point->Advise(sink, &connection));
    return object;
}

// One poll cycle's work for the servers, with a new value of INT for every subscriber.
void PollCycle()
{
    ++g_tagMirror[1]->value.integer;
    ReclaimServersOfEndedClients();
    UpdateAllServers(1000);
    Sleep(50);
}

template <class Sink>
void GoneSinkEndsOnlyAnUnwatchedServer()
{
    TestTags tags;
    TakeDeadSinkReports();
    SinkInOtherApartment<Sink> unwatchedSink, watchedSink;
    ComPtr<ServerObject> unwatched = SubscribedServer(unwatchedSink.Proxy());
    ComPtr<ServerObject> watched = SubscribedServer(watchedSink.Proxy());
    SetServerClient(watched->ServerTableIndex(), GetCurrentProcessId());
    PollCycle();
    unwatchedSink.End();
    watchedSink.End();

    for (int cycle = 0; cycle < 200 && unwatched->ServerTableIndex() != 0; ++cycle) PollCycle();
    EXPECT_EQ(0, unwatched->ServerTableIndex()) << "reclaimed at a poll cycle after the report";
    for (int cycle = 0; cycle < 5; ++cycle) PollCycle();
    EXPECT_NE(0, watched->ServerTableIndex()) << "a running client's server stays";
    UnregisterServer(watched->ServerTableIndex());
}

TEST(DeadSinkReport, AGoneSinkEndsItsServerOnlyWhenTheClientsProcessIsNotWatched)
{
    GoneSinkEndsOnlyAnUnwatchedServer<RecordingSink>();
}

// opc_proxy.dll registered while it lives: IOPCDataCallback has no proxy of the system's.
class ProxyRegistered {
public:
    ProxyRegistered()
    {
        EXPECT_TRUE(
            registration::register_proxy(HKEY_CLASSES_ROOT, BesideThisProgram(kProxyDllName)).ok());
    }
    ~ProxyRegistered() { EXPECT_TRUE(registration::unregister_proxy(HKEY_CLASSES_ROOT).ok()); }
    ProxyRegistered(const ProxyRegistered&) = delete;
    ProxyRegistered& operator=(const ProxyRegistered&) = delete;
};

TEST(DeadSinkReport, AGoneDataCallbackEndsItsServerOnlyWhenTheClientsProcessIsNotWatched)
{
    ProxyRegistered proxy;
    GoneSinkEndsOnlyAnUnwatchedServer<RecordingCallback>();
}

}  // namespace
