#pragma once
// The calls waiting for one group's delivery thread, with the steps that connect and
// disconnect the group's sinks on that thread. The main thread pushes and never waits; the
// delivery thread takes. A client that stops answering lets its data changes pile up only as
// far as one per connection: a newer data change absorbs the waiting one (SinkCall::Absorb).
// Completions of asynchronous requests are never dropped and keep their order.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "opc/datachange/sink_call.h"

enum class DeliveryStep { Connect, Call, Disconnect };

struct QueuedDelivery {
    DeliveryStep step = DeliveryStep::Call;
    int connection = 0;  // the group's sink slot
    std::unique_ptr<SinkCall> call;
    // Connect: the sink, marshalled for the delivery thread's apartment.
    Microsoft::WRL::ComPtr<IStream> marshalledSink;
};

class DeliveryQueue {
public:
    // A coalescing call takes the place of a waiting coalescing call of its connection that it
    // absorbs; a disconnect drops every call of its connection still waiting. False when
    // memory is short or the queue is closed: the entry is not queued.
    bool Push(QueuedDelivery entry);
    // Every waiting call is dropped; connects and disconnects stay, so that the delivery
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
