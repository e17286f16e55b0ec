#pragma once
// Delivery of one group's calls to the sinks of clients in other processes, on a thread of its
// own: the main thread hands each call over and goes on, so that a client that stops
// answering its callbacks holds up only its own calls (which wait in a DeliveryQueue, their
// data changes coalesced) and never the poll cycle or another client. The thread calls the
// sinks in the order the calls were handed over, and touches nothing of the group. It serves
// the group's advise sinks (connections 0 to 2, one a stream format) and its data callback.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <memory>

#include "opc/datachange/delivery_queue.h"

// The connection of the group's IOPCDataCallback sink, after the three advise sinks'.
constexpr int kDataCallbackConnection = 3;

class GroupDelivery {
public:
    // Starts the delivery thread; null when it cannot be had.
    static std::unique_ptr<GroupDelivery> Start();
    // Closes the queue: waiting calls are dropped and the thread lets go of the sinks and ends
    // on its own, even while a frozen client holds it in a call. Never waits for it.
    ~GroupDelivery();
    GroupDelivery(const GroupDelivery&) = delete;
    GroupDelivery& operator=(const GroupDelivery&) = delete;

    // `sink` (a proxy of the main thread's apartment, for interface `iid`) marshalled for the
    // delivery thread, or null. Marshalling a proxy may call the client.
    static Microsoft::WRL::ComPtr<IStream> Marshal(REFIID iid, IUnknown* sink);
    // Hands the marshalled sink to the delivery thread for `connection`; false when it cannot
    // be queued, and then its marshalled references are given back.
    bool Connect(int connection, const Microsoft::WRL::ComPtr<IStream>& marshalledSink);
    // From now on `connection` gets nothing more; its waiting calls are dropped.
    void Disconnect(int connection);
    // Queues the call; one that cannot be queued for want of memory is dropped, as a stream
    // whose block cannot be had is never built.
    void Send(int connection, std::unique_ptr<SinkCall> call);
    // Unique in the process; dead sinks are reported with it (dead_sink_report.h).
    DWORD Id() const { return m_id; }

private:
    GroupDelivery(std::shared_ptr<DeliveryQueue> queue, DWORD id);

    std::shared_ptr<DeliveryQueue> m_queue;  // shared with the delivery thread
    DWORD m_id;
};
