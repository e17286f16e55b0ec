// One client's delivery: the queue of its calls (coalescing, order, the bound on waiting
// completions) and what becomes of a sink found gone, or of a client whose process ended.
#include "opc/datachange/client_delivery.h"

#include <gtest/gtest.h>
#include <ocidl.h>

#include <memory>
#include <string>
#include <vector>

#include "opc/datachange/data_object.h"
#include "opc/datachange/sink_calls.h"
#include "opc/group/group_object.h"
#include "opc/server/ended_client_reclaim.h"
#include "opc/server/server_object.h"
#include "opc/server/server_table.h"
#include "opc_error.h"
#include "tests/opc/datachange/proxy_registered.h"
#include "tests/opc/datachange/recording_callback.h"
#include "tests/opc/datachange/recording_sink.h"
#include "tests/opc/datachange/sink_in_other_apartment.h"
#include "tests/opc/group/test_tags.h"
#include "tests/opc/server/com_server_test_support.h"

namespace {

// One step of a case: a stream (connection, format, whether it coalesces, a tag carried in its
// block), a disconnect or a close.
struct Step {
    enum { Stream, Disconnect, Close } what;
    int connection;
    CLIPFORMAT format = 0;
    bool coalesces = false;
    BYTE tag = 0;
};

Step DataChange(int connection, CLIPFORMAT format, BYTE tag)
{
    return Step{Step::Stream, connection, format, true, tag};
}

Step Completion(int connection, CLIPFORMAT format, BYTE tag)
{
    return Step{Step::Stream, connection, format, false, tag};
}

QueuedDelivery Tagged(const Step& step)
{
    StreamBlock block = AllocateStreamBlock(1);
    *static_cast<BYTE*>(block.get()) = step.tag;
    QueuedDelivery entry;
    entry.connection = step.connection;
    entry.call = std::make_unique<StreamCall>(step.format, step.coalesces, std::move(block));
    return entry;
}

// What the delivery thread would take, in order: a stream's tag, or 'd' for a disconnect.
std::string Taken(DeliveryQueue& queue)
{
    std::string taken;
    QueuedDelivery entry;
    while (queue.TryNext(entry)) {
        taken += entry.step == DeliveryStep::Disconnect
                     ? 'd'
                     : static_cast<char>(
                           *static_cast<BYTE*>(static_cast<StreamCall&>(*entry.call).Block()));
    }
    return taken;
}

TEST(DeliveryQueue, AFrozenClientsStreamsCoalesceToTheNewestDataAndKeepEveryCompletion)
{
    constexpr CLIPFORMAT kData = 1, kDataTime = 2, kWrite = 3;
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::string taken;
    } cases[] = {
        {"a newer data change replaces the waiting one of its format",
         {DataChange(0, kDataTime, 'a'), DataChange(0, kData, 'b'), DataChange(0, kDataTime, 'c'),
          DataChange(0, kData, 'd')},
         "cd"},
        {"each connection keeps its own newest",
         {DataChange(0, kData, 'a'), DataChange(1, kData, 'b'), DataChange(0, kData, 'c')},
         "bc"},
        {"completions are neither dropped nor reordered; newer data comes after them",
         {DataChange(0, kData, 'a'), Completion(0, kData, 'b'), Completion(2, kWrite, 'c'),
          Completion(0, kData, 'd'), DataChange(0, kData, 'e')},
         "bcde"},
        {"a completion does not replace a data change",
         {DataChange(0, kData, 'a'), Completion(0, kData, 'b')},
         "ab"},
        {"a disconnect drops its connection's waiting streams only",
         {DataChange(0, kData, 'a'), Completion(1, kDataTime, 'b'), Completion(0, kData, 'c'),
          Step{Step::Disconnect, 0}},
         "bd"},
        {"close drops every waiting stream but keeps the disconnects, and takes nothing more",
         {Completion(0, kData, 'a'), Step{Step::Disconnect, 1}, Step{Step::Close, 0},
          Completion(0, kData, 'b')},
         "d"},
    };
    for (const auto& c : cases) {
        DeliveryQueue queue;
        for (const Step& step : c.steps) {
            if (step.what == Step::Close) {
                queue.Close();
            } else if (step.what == Step::Disconnect) {
                QueuedDelivery entry;
                entry.step = DeliveryStep::Disconnect;
                entry.connection = step.connection;
                queue.Push(std::move(entry));
            } else {
                queue.Push(Tagged(step));
            }
        }
        EXPECT_EQ(c.taken, Taken(queue)) << c.name;
    }
}

TEST(ClientDelivery, RequestsWaitingForAPassAreChargedUntilAnsweredInRequestsAndBytes)
{
    ClientDelivery delivery;
    std::vector<RequestCharge> charges;
    for (size_t i = 0; i < DeliveryQueue::kCompletionBound; ++i) {
        charges.push_back(delivery.Charge(100));
        ASSERT_TRUE(charges.back()) << i;
    }
    EXPECT_FALSE(delivery.Charge(100)) << "a thousand requests wait for a pass";
    charges.pop_back();
    EXPECT_TRUE(delivery.Charge(100)) << "one answered: room again";
    charges.clear();
    EXPECT_FALSE(delivery.Charge(DeliveryQueue::kByteBound + 1)) << "an answer past the budget";
    RequestCharge half = delivery.Charge(DeliveryQueue::kByteBound / 2);
    ASSERT_TRUE(half);
    RequestCharge moved = std::move(half);
    EXPECT_FALSE(half);
    EXPECT_FALSE(delivery.Charge(DeliveryQueue::kByteBound / 2 + 1)) << "the move kept the charge";
    moved.Release();
    EXPECT_TRUE(delivery.Charge(DeliveryQueue::kByteBound / 2 + 1));
}

TEST(DeliveryQueue, WaitingCompletionsAreBoundedAndDataChangesAreNotCounted)
{
    DeliveryQueue queue;
    for (size_t i = 0; i < 5 * DeliveryQueue::kCompletionBound; ++i) {
        queue.Push(Tagged(DataChange(0, 1, 'a')));
    }
    EXPECT_FALSE(queue.Saturated()) << "data changes coalesce: they never fill the queue";
    for (size_t i = 1; i < DeliveryQueue::kCompletionBound; ++i) {
        queue.Push(Tagged(Completion(0, 2, 'b')));
    }
    EXPECT_FALSE(queue.Saturated());
    queue.Push(Tagged(Completion(1, 2, 'c')));
    EXPECT_TRUE(queue.Saturated()) << "a thousand completions wait";
    QueuedDelivery taken;
    ASSERT_TRUE(queue.TryNext(taken));
    ASSERT_TRUE(queue.TryNext(taken));
    EXPECT_FALSE(queue.Saturated()) << "one taken: room again";
    QueuedDelivery disconnect;
    disconnect.step = DeliveryStep::Disconnect;
    disconnect.connection = 0;
    queue.Push(std::move(disconnect));
    queue.Push(Tagged(Completion(0, 2, 'e')));
    EXPECT_EQ("cde", Taken(queue)) << "the disconnect dropped connection 0's completions";
}

TEST(DeliveryQueue, WaitNextEndsOnceClosedAndEmpty)
{
    DeliveryQueue queue;
    QueuedDelivery disconnect;
    disconnect.step = DeliveryStep::Disconnect;
    queue.Push(std::move(disconnect));
    queue.Close();
    QueuedDelivery entry;
    EXPECT_TRUE(queue.WaitNext(entry)) << "the disconnect is still taken";
    EXPECT_FALSE(queue.WaitNext(entry));
    EXPECT_FALSE(queue.Push(Tagged(Completion(0, 1, 'x'))));
}

// A data callback's call carrying items {server handle, value}; the value is its I4.
QueuedDelivery CallbackCall(DWORD transactionId,
                            const std::vector<std::pair<OPCHANDLE, LONG>>& items)
{
    std::vector<CallbackItem> carried(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        carried[i].hServer = items[i].first;
        carried[i].hClient = items[i].first + 100;
        VARIANT* value = carried[i].value.Receive();
        value->vt = VT_I4;
        value->lVal = items[i].second;
    }
    QueuedDelivery entry;
    entry.connection = 3;
    entry.call = std::make_unique<DataCallbackCall>(DataCallbackKind::DataChange, transactionId, 1,
                                                    std::move(carried));
    return entry;
}

// The calls the delivery thread would make: per call " handle=value ...", a refresh's
// prefixed with "t<transaction>:", joined by " |".
std::string CallbackCalls(DeliveryQueue& queue)
{
    std::string taken;
    QueuedDelivery entry;
    while (queue.TryNext(entry)) {
        if (!taken.empty()) taken += " |";
        const auto& call = static_cast<DataCallbackCall&>(*entry.call);
        if (call.TransactionId() != 0) taken += "t" + std::to_string(call.TransactionId()) + ":";
        for (const CallbackItem& item : call.Items()) {
            taken +=
                " " + std::to_string(item.hServer) + "=" + std::to_string(item.value.get().lVal);
        }
    }
    return taken;
}

TEST(DeliveryQueue, WaitingCallbackDataChangesMergeSoThatNoItemsLastChangeIsLost)
{
    using Items = std::vector<std::pair<OPCHANDLE, LONG>>;
    const struct {
        const char* name;
        std::vector<std::pair<DWORD, Items>> calls;  // transaction ID (0: data change), items
        std::string taken;
    } cases[] = {
        {"items of the older change the newer lacks are kept, in handle order",
         {{0, {{1, 10}, {3, 30}}}, {0, {{2, 21}, {3, 31}}}},
         " 1=10 2=21 3=31"},
        {"the newer value of an item wins",
         {{0, {{5, 50}}}, {0, {{5, 51}}}, {0, {{5, 52}}}},
         " 5=52"},
        {"three changes fold into one",
         {{0, {{1, 10}}}, {0, {{2, 20}}}, {0, {{1, 11}, {3, 30}}}},
         " 1=11 2=20 3=30"},
        {"a refresh's data change is a completion: no change merges across it, so its values "
         "are never followed by older ones",
         {{0, {{1, 10}}}, {7, {{1, 11}}}, {0, {{2, 20}}}, {0, {{1, 12}}}},
         " 1=10 |t7: 1=11 | 1=12 2=20"},
    };
    for (const auto& c : cases) {
        DeliveryQueue queue;
        for (const auto& call : c.calls) queue.Push(CallbackCall(call.first, call.second));
        EXPECT_EQ(c.taken, CallbackCalls(queue)) << c.name;
    }
}


// A server object whose group sends one item to `sink`: as a stream to an advise sink, or to a
// data callback.
ComPtr<ServerObject> SubscribedServer(IUnknown* sink)
{
    ComPtr<ServerObject> object(ServerObject::Create(nullptr));
    ComPtr<IOPCServer> server;
    EXPECT_EQ(S_OK, object->QueryInterface(IID_PPV_ARGS(&server)));
    ComPtr<IOPCGroupStateMgt> group = AddGroup(server.Get(), nullptr);
    AddActiveItem(group.Get(), L"INT");
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

// Whether the server's first group still delivers to a sink of its subscription.
bool Subscribed(ServerObject& server)
{
    GroupObject& group = server.Groups().At(0);
    return group.Callback().Connected() ||
           (group.DataObject() && group.DataObject()->HasDataSink());
}

// One poll cycle's work for the servers, with a new value of INT for every subscriber.
void PollCycle()
{
    ++g_tagMirror[1]->value.integer;
    ReclaimServersOfEndedClients();
    UpdateAllServers(1000);
    Sleep(20);
}

// A sink whose apartment ended (as when a client disconnects its sink or the thread that
// served it ends) is let go with its advise only: the client's server object stays, and the
// slot takes a new sink. An advise sink's streams tell nothing: it is found gone by the one
// question asked after a silence.
template <class Sink>
void AGoneSinkDropsOnlyItsAdvise()
{
    TestTags tags;
    const DWORD silence = g_silenceBeforeProbeMs.exchange(0);
    SinkInOtherApartment<Sink> goneSink;
    ComPtr<ServerObject> server = SubscribedServer(goneSink.Proxy());
    server->Session()->WatchClient(GetCurrentProcessId());
    PollCycle();
    EXPECT_TRUE(Subscribed(*server.Get()));
    goneSink.End();
    for (int cycle = 0; cycle < 200 && Subscribed(*server.Get()); ++cycle) PollCycle();
    EXPECT_FALSE(Subscribed(*server.Get())) << "the gone sink was found out";
    EXPECT_NE(0, server->ServerTableIndex()) << "a running client keeps its server object";

    SinkInOtherApartment<Sink> newSink;
    ComPtr<IOPCServer> opcServer;
    ASSERT_EQ(S_OK, server->QueryInterface(IID_PPV_ARGS(&opcServer)));
    GroupObject& group = server->Groups().At(0);
    ComPtr<IAdviseSink> adviseSink;
    DWORD connection = 0;
    if (SUCCEEDED(newSink.Proxy()->QueryInterface(IID_PPV_ARGS(&adviseSink)))) {
        ComPtr<IDataObject> data;
        ASSERT_EQ(S_OK, group.QueryInterface(IID_PPV_ARGS(&data)));
        FORMATETC format{DataTimeFormat(), nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        EXPECT_EQ(S_OK, data->DAdvise(&format, 0, adviseSink.Get(), &connection));
    } else {
        EXPECT_EQ(S_OK, group.Callback().Point().Advise(newSink.Proxy(), &connection));
    }
    EXPECT_TRUE(Subscribed(*server.Get())) << "the slot takes the client's new sink";
    g_silenceBeforeProbeMs = silence;
    UnregisterServer(server->ServerTableIndex());
}

TEST(GoneSink, AGoneAdviseSinkDropsOnlyItsAdvise)
{
    AGoneSinkDropsOnlyItsAdvise<RecordingSink>();
}

TEST(GoneSink, AGoneDataCallbackDropsOnlyItsAdvise)
{
    ProxyRegistered proxy;
    AGoneSinkDropsOnlyItsAdvise<RecordingCallback>();
}

// A reference as a client's stub holds it: only disconnecting the object drops it.
ComPtr<IStream> HeldByStub(IUnknown* object)
{
    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID_IUnknown, object, &stream));
    return stream;
}

TEST(EndedClient, ReclaimReachesEveryGroupItMadeInTheTableOrNot)
{
    TestTags tags;
    HANDLE ended = EndedProcess();
    ASSERT_NE(nullptr, ended);
    RecordingCallback inTable, removed, clone;
    ComPtr<IStream> stubs[4];
    int serverIndex = 0;
    {
        ComPtr<ServerObject> object(ServerObject::Create(nullptr));
        object->Session()->WatchClient(GetProcessId(ended));
        serverIndex = object->ServerTableIndex();
        ComPtr<IOPCServer> server;
        ASSERT_EQ(S_OK, object->QueryInterface(IID_PPV_ARGS(&server)));
        ComPtr<IOPCGroupStateMgt> first = AddGroup(server.Get(), L"in the table");
        ComPtr<IOPCGroupStateMgt> second = AddGroup(server.Get(), L"removed");
        ComPtr<IUnknown> cloned;
        ASSERT_EQ(S_OK, first->CloneGroup(L"clone", IID_IUnknown, &cloned));
        const std::pair<IUnknown*, RecordingCallback*> subscriptions[] = {
            {first.Get(), &inTable}, {second.Get(), &removed}, {cloned.Get(), &clone}};
        for (const auto& subscription : subscriptions) {
            ComPtr<IConnectionPointContainer> container;
            ComPtr<IConnectionPoint> point;
            ASSERT_EQ(S_OK, subscription.first->QueryInterface(IID_PPV_ARGS(&container)));
            ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IOPCDataCallback, &point));
            DWORD cookie = 0;
            ASSERT_EQ(S_OK, point->Advise(subscription.second, &cookie));
        }
        DWORD rate = 0, locale = 0;
        BOOL active = FALSE;
        LPWSTR name = nullptr;
        LONG bias = 0;
        FLOAT deadband = 0;
        OPCHANDLE clientHandle = 0, removedHandle = 0;
        ASSERT_EQ(S_OK, second->GetState(&rate, &active, &name, &bias, &deadband, &locale,
                                         &clientHandle, &removedHandle));
        CoTaskMemFree(name);
        ASSERT_EQ(OPC_S_INUSE, server->RemoveGroup(removedHandle, FALSE));
        stubs[0] = HeldByStub(server.Get());
        stubs[1] = HeldByStub(first.Get());
        stubs[2] = HeldByStub(second.Get());
        stubs[3] = HeldByStub(cloned.Get());
    }
    EXPECT_NE(0u, removed.refs() + clone.refs() + inTable.refs()) << "the dead client's objects live";
    ReclaimServersOfEndedClients();
    EXPECT_EQ(0u, inTable.refs());
    EXPECT_EQ(0u, removed.refs()) << "a group removed from the table but held goes too";
    EXPECT_EQ(0u, clone.refs()) << "and a clone";
    for (ServerObject* listed : ListServers()) EXPECT_NE(serverIndex, listed->ServerTableIndex());
    CloseHandle(ended);
}

}  // namespace
