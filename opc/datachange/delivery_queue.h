#pragma once
// The streams waiting for one group's delivery thread, with the steps that connect and
// disconnect the group's sinks on that thread. The main thread pushes and never waits; the
// delivery thread takes. A client that stops answering lets its data changes pile up only as
// far as the newest one per sink: an older data change still waiting is dropped when a newer
// one comes. Completions of asynchronous requests are never dropped and keep their order.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <condition_variable>
#include <deque>
#include <mutex>

#include "opc/datachange/stream_block.h"

enum class DeliveryStep { Connect, Stream, Disconnect };

struct QueuedDelivery {
    DeliveryStep step = DeliveryStep::Stream;
    int connection = 0;  // the group's sink slot
    CLIPFORMAT format = 0;
    bool coalesces = false;  // a data change: only the newest waiting one is kept
    StreamBlock block;
    // Connect: the sink, marshalled for the delivery thread's apartment.
    Microsoft::WRL::ComPtr<IStream> marshalledSink;
};

class DeliveryQueue {
public:
    // A stream replaces a waiting data change of its connection and format when both coalesce;
    // a disconnect drops every stream of its connection still waiting. False when memory is
    // short or the queue is closed: the entry is not queued.
    bool Push(QueuedDelivery entry);
    // Every waiting stream is dropped; connects and disconnects stay, so that the delivery
    // thread releases what it holds, and then it ends.
    void Close();
    // Takes the oldest entry, waiting for one; false once closed with nothing left.
    bool WaitNext(QueuedDelivery& entry);
    // Takes the oldest entry if there is one.
    bool TryNext(QueuedDelivery& entry);
    bool Empty() const;

private:
    mutable std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<QueuedDelivery> m_entries;
    bool m_closed = false;
};
