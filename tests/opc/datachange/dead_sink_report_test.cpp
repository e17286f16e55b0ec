#include "opc/datachange/dead_sink_report.h"

#include <gtest/gtest.h>

#include <thread>

#include "opc/server/ended_client_reclaim.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "tests/opc/datachange/recording_sink.h"
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

// An advise sink in an apartment of its own thread, reached through a proxy as a client's sink
// is; the apartment can end, as a client's does when its process ends.
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

    IAdviseSink* Proxy() const { return proxy_.Get(); }
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
            RecordingSink sink;
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before a post
            threadId_ = GetCurrentThreadId();
            CoMarshalInterThreadInterfaceInStream(IID_IAdviseSink, &sink, &marshalled_);
            SetEvent(ready_);
            while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
            CoDisconnectObject(&sink, 0);
        }
        CoUninitialize();
    }

    HANDLE ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    DWORD threadId_ = 0;
    IStream* marshalled_ = nullptr;
    ComPtr<IAdviseSink> proxy_;
    std::thread thread_;  // last: it starts once the members it uses are made
};

// A server object whose group streams one item to `sink` through the delivery thread.
ComPtr<ServerObject> SubscribedServer(IAdviseSink* sink)
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
    FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD connection = 0;
    EXPECT_EQ(S_OK, data->DAdvise(&format, 0, sink, &connection));
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

TEST(DeadSinkReport, AGoneSinkEndsItsServerOnlyWhenTheClientsProcessIsNotWatched)
{
    TestTags tags;
    TakeDeadSinkReports();
    SinkInOtherApartment unwatchedSink, watchedSink;
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

}  // namespace
