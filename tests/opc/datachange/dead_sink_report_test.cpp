#include "opc/datachange/dead_sink_report.h"

#include <gtest/gtest.h>

#include <ocidl.h>

#include <thread>

#include "opc/server/ended_client_reclaim.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "tests/opc/datachange/proxy_registered.h"
#include "tests/opc/datachange/recording_callback.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/sink_in_other_apartment.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/server/com_server_test_support.h"

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

// A server object whose group sends one item to `sink` through the delivery thread: as a
// stream to an advise sink, or to a data callback (and then the group has no IDataObject part,
// which the reclaim must not need).
ComPtr<ServerObject> SubscribedServer(IUnknown* sink)
{
    ComPtr<ServerObject> object(ServerObject::Create(nullptr));
    ComPtr<IOPCServer> server;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_PPV_ARGS(&server)));
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), nullptr);
    ComPtr<IOPCItemMgt> items;
    EXPECT_EQ(S_OK, group.As(&items));
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
        ComPtr<IDataObject> data;
        EXPECT_EQ(S_OK, group.As(&data));
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

TEST(DeadSinkReport, AGoneDataCallbackEndsItsServerOnlyWhenTheClientsProcessIsNotWatched)
{
    ProxyRegistered proxy;
    GoneSinkEndsOnlyAnUnwatchedServer<RecordingCallback>();
}

}  // namespace
