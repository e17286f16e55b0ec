#include "opc/datachange/delivery_queue.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "opc/datachange/data_callback_call.h"
#include "opc/datachange/stream_handover.h"

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

}  // namespace
