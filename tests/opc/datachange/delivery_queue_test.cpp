#include "opc/datachange/delivery_queue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    QueuedDelivery entry;
    entry.connection = step.connection;
    entry.format = step.format;
    entry.coalesces = step.coalesces;
    entry.block = AllocateStreamBlock(1);
    *static_cast<BYTE*>(entry.block.get()) = step.tag;
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
                     : static_cast<char>(*static_cast<BYTE*>(entry.block.get()));
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

}  // namespace
