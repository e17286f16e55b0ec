#pragma once
// Delivery of one group's streams to the sinks of clients in other processes, on a thread of
// its own: the main thread hands each stream over and goes on, so that a client that stops
// answering its callbacks holds up only its own streams (which wait in a DeliveryQueue,
// coalesced to the newest data) and never the poll cycle or another client. The thread calls
// the sinks in the order the streams were handed over, and touches nothing of the group.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <memory>

#include "opc/datachange/delivery_queue.h"

class StreamDelivery {
public:
    // Starts the delivery thread; null when it cannot be had.
    static std::unique_ptr<StreamDelivery> Start();
    // Closes the queue: waiting streams are dropped and the thread lets go of the sinks and
    // ends on its own, even while a frozen client holds it in a call. Never waits for it.
    ~StreamDelivery();
    StreamDelivery(const StreamDelivery&) = delete;
    StreamDelivery& operator=(const StreamDelivery&) = delete;

    // `sink` (a proxy of the main thread's apartment) marshalled for the delivery thread, or
    // null. Marshalling a proxy may call the client.
    static Microsoft::WRL::ComPtr<IStream> Marshal(IAdviseSink* sink);
    // Hands the marshalled sink to the delivery thread for `connection`; false when it cannot
    // be queued, and then its marshalled references are given back.
    bool Connect(int connection, const Microsoft::WRL::ComPtr<IStream>& marshalledSink);
    // From now on `connection` gets nothing more; its waiting streams are dropped.
    void Disconnect(int connection);
    // Queues the stream; a stream that cannot be queued for want of memory is dropped, as one
    // whose block cannot be had is never built.
    void Send(int connection, CLIPFORMAT format, bool coalesces, StreamBlock block);
    // Unique in the process; dead sinks are reported with it (dead_sink_report.h).
    DWORD Id() const { return m_id; }

private:
    StreamDelivery(std::shared_ptr<DeliveryQueue> queue, DWORD id);

    std::shared_ptr<DeliveryQueue> m_queue;  // shared with the delivery thread
    DWORD m_id;
};
