#pragma once
// Delivery to one client: every call the server makes to the sinks that one server object's
// client keeps in other apartments (its groups' advise streams, data callbacks and completions,
// and its shutdown notice) waits in one queue and is made by one thread of its own, in the
// order the server made them, one call at a time, as a single-threaded server would make them.
// The main thread hands each call over and goes on: it never holds a proxy of such a sink and
// never waits on a client, so a client that stops answering holds up only its own calls (its
// data changes coalesce meanwhile) and never the poll cycle or another client. A sink in the
// server's own apartment is called at once instead.
#include <windows.h>
#include <objidl.h>
#include <wrl/client.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>
#include <vector>

// One call to a client's sink, built on the main thread and made on the client's delivery
// thread (or at once for a sink in the server's own apartment). The call owns all it hands over.
class SinkCall {
public:
    virtual ~SinkCall() = default;

    // Makes the call on `sink`, the connection's sink; the call's own result, which tells
    // whether the client is gone. `told` says whether the result can tell at all: an advise
    // sink's OnDataChange returns nothing, so a stream's result is always S_OK.
    virtual HRESULT MakeOn(IUnknown& sink, bool& told) = 0;
    // A data change, which a newer one may take the place of while its client does not
    // answer; completions never coalesce.
    virtual bool Coalesces() const = 0;
    // Called on a newer coalescing call with a waiting older one of the same connection, and
    // whether a completion of that connection waits between them: true when this call now
    // carries all that `older` would have told the client (taking from it what it lacks), so
    // that `older` may be dropped.
    virtual bool Absorb(SinkCall& older, bool completionBetween) = 0;
    // About how many bytes the call holds while it waits.
    virtual size_t Bytes() const = 0;
};

// How long a client may tell nothing (a stream's call returns nothing) before one of its sinks
// is asked whether it is still there; tests shorten it.
extern std::atomic<DWORD> g_silenceBeforeProbeMs;

// A sink's place in its client's delivery, given at connection; never 0, never reused.
using SinkConnection = uint32_t;

enum class DeliveryStep { Connect, Call, Disconnect };

struct QueuedDelivery {
    DeliveryStep step = DeliveryStep::Call;
    SinkConnection connection = 0;
    std::unique_ptr<SinkCall> call;
    // Connect: the sink, marshalled for the delivery thread's apartment.
    Microsoft::WRL::ComPtr<IStream> marshalledSink;
    size_t bytes = 0;    // the call's Bytes() when it was queued
    uint64_t order = 0;  // the queue's number for it, in push order
};

// The waiting calls of one client. The main thread pushes and never waits; the delivery thread
// takes. A newer data change absorbs the waiting one of its connection (SinkCall::Absorb), so
// data changes pile up only as far as one per connection; completions are never dropped and
// keep their order. Every push and take costs the same however long the queue is: a frozen
// client's queue may hold thousands of calls.
class DeliveryQueue {
public:
    // Past either bound the client's new asynchronous requests are refused (ClientDelivery
    // counts its requests that wait for an update pass against the same bounds).
    static constexpr size_t kCompletionBound = 1000;
    static constexpr size_t kByteBound = size_t{16} << 20;

    DeliveryQueue() = default;
    DeliveryQueue(const DeliveryQueue&) = delete;
    DeliveryQueue& operator=(const DeliveryQueue&) = delete;

    // False when memory is short or the queue is closed: the entry is not queued.
    bool Push(QueuedDelivery entry);
    // Every waiting call is dropped; connects and disconnects stay, so that the delivery
    // thread releases what it holds, and then it ends.
    void Close();
    // Takes the oldest entry, waiting for one; false once closed with nothing left.
    bool WaitNext(QueuedDelivery& entry);
    // Takes the oldest entry if there is one.
    bool TryNext(QueuedDelivery& entry);
    // Too many completions, or too many bytes, wait.
    bool Saturated() const;
    // The completions waiting and the bytes every waiting call holds.
    void Waiting(size_t& completions, size_t& bytes) const;
    // A connection whose sink was found gone (its client or its apartment ended); only its
    // disconnect takes it off the list.
    void MarkGone(SinkConnection connection);
    bool Gone(SinkConnection connection) const;
    // Data changes taken in by newer ones since the last call, and the completions waiting now.
    void TakeBacklog(size_t& coalesced, size_t& completions);

    // The client's process, for the support trace; 0 when not known.
    std::atomic<DWORD> clientProcessId{0};
    // When a refusal was last traced: a flood of requests leaves a line a second.
    std::atomic<ULONGLONG> refusalTracedAt{0};

private:
    using Entries = std::list<QueuedDelivery>;
    // A waiting data change that a newer one of its connection may absorb, and whether a
    // completion of that connection was queued after it.
    struct Coalescible {
        Entries::iterator entry;
        bool completionAfter;
    };
    // What the queue keeps of one connection that has calls waiting.
    struct Connection {
        size_t bytes = 0;        // of its waiting calls
        size_t completions = 0;  // waiting calls that do not coalesce
        // Its calls queued before this push number were dropped by its disconnect.
        uint64_t droppedBefore = 0;
        // Its newest waiting data changes, oldest first. A connection carries one kind of data
        // change (a few in tests), so a few suffice; an older one that falls off stays queued.
        std::vector<Coalescible> coalescible;
    };
    static constexpr size_t kCoalescibleKept = 4;

    // Adds a call that starts waiting to the counts, or takes one that stops waiting off them.
    void Count(const QueuedDelivery& entry, bool waiting);
    // The oldest entry that is still to be made, or false; the caller holds the lock.
    bool TakeFront(QueuedDelivery& entry);
    void AbsorbInto(QueuedDelivery& newer, Connection& connection);

    mutable std::mutex m_lock;
    std::condition_variable m_ready;
    Entries m_entries;
    std::unordered_map<SinkConnection, Connection> m_connections;
    std::set<SinkConnection> m_gone;
    uint64_t m_pushes = 0;     // numbers every entry in push order
    size_t m_completions = 0;  // waiting calls that do not coalesce
    size_t m_bytes = 0;        // held by every waiting call
    size_t m_coalesced = 0;    // since the last TakeBacklog
    bool m_closed = false;
};

class ClientDelivery;

// What one accepted asynchronous request holds of its client's budget until it is answered
// (its completion handed to the delivery queue) or dropped. Made by ClientDelivery::Charge.
class RequestCharge {
public:
    RequestCharge() = default;
    RequestCharge(RequestCharge&& other) noexcept { *this = std::move(other); }
    RequestCharge& operator=(RequestCharge&& other) noexcept;
    ~RequestCharge() { Release(); }
    // False for a charge the budget refused.
    explicit operator bool() const { return m_delivery != nullptr; }
    void Release();

private:
    friend class ClientDelivery;
    RequestCharge(ClientDelivery* delivery, size_t bytes) : m_delivery(delivery), m_bytes(bytes) {}

    ClientDelivery* m_delivery = nullptr;  // outlives the charge: the request's group holds it
    size_t m_bytes = 0;
};

class ClientDelivery {
public:
    ClientDelivery();
    // Closes the queue: waiting calls are dropped, and the thread lets go of the sinks and ends
    // on its own, even while a frozen client holds it in a call. Never waits for it.
    ~ClientDelivery();
    ClientDelivery(const ClientDelivery&) = delete;
    ClientDelivery& operator=(const ClientDelivery&) = delete;

    // Hands `sink` (a proxy of the calling apartment, for interface `iid`) to the delivery
    // thread, started on first need. Marshalling a proxy may call the client. 0 when it cannot
    // be had; the caller's reference stays the caller's.
    SinkConnection Connect(REFIID iid, IUnknown& sink);
    // From now on the connection gets nothing more; its waiting calls are dropped and the
    // delivery thread releases the sink.
    void Disconnect(SinkConnection connection);
    // Queues the call; one that cannot be queued for want of memory is dropped, as a stream
    // whose block cannot be had is never built.
    void Send(SinkConnection connection, std::unique_ptr<SinkCall> call);
    // Whether the connection's sink was found gone: its calls are no longer made.
    bool Gone(SinkConnection connection) const;
    // One budget a client for what it asked and was not answered yet: its accepted
    // asynchronous requests that wait for an update pass and the completions waiting in the
    // queue count together against DeliveryQueue's bounds. A charge for a new request whose
    // answer takes about `answerBytes`; an empty one past the budget (the request is refused).
    RequestCharge Charge(size_t answerBytes);
    void SetClientProcessId(DWORD processId);

private:
    friend class RequestCharge;
    bool StartThread();

    std::shared_ptr<DeliveryQueue> m_queue;  // shared with the delivery thread
    bool m_threadStarted = false;
    SinkConnection m_lastConnection = 0;
    // Accepted requests not answered yet, and their charged bytes; the main thread's only.
    size_t m_requestsCharged = 0;
    size_t m_bytesCharged = 0;
};

// At the server's end, after COM has let go of every client's objects: waits at most
// `timeoutMs` for the delivery threads whose client's objects went to let go of their sinks,
// so that live clients see their sinks released; a thread a frozen client holds is left behind
// (it touches nothing but its own queue, and ends with the process).
void WaitForEndingDeliveries(DWORD timeoutMs);

// A client's sink as the server keeps it: the sink itself when it lives in the server's own
// apartment (called at once), else only its connection in the client's delivery.
class ClientSink {
public:
    explicit ClientSink(std::shared_ptr<ClientDelivery> delivery);
    ~ClientSink() { Disconnect(); }
    ClientSink(const ClientSink&) = delete;
    ClientSink& operator=(const ClientSink&) = delete;

    // Takes `sink`, which answers `iid`. Marshalling it for the delivery thread may call the
    // client, which may connect or disconnect this slot meanwhile: S_OK when `sink` is then
    // the connected one, CONNECT_E_ADVISELIMIT when another took the slot first, S_FALSE when
    // the slot was let go meanwhile, else why it cannot be delivered to.
    HRESULT Connect(REFIID iid, Microsoft::WRL::ComPtr<IUnknown> sink);
    // Lets the sink go: a direct one is released here, after the slot is empty (the release
    // may come back into the server); a delivered one by its delivery thread.
    void Disconnect();
    // Connected, and not found gone.
    bool Connected() const;
    // Holds a sink, gone or not: it was connected and not let go.
    bool Held() const { return m_direct || m_connection; }
    // Holds a sink that was found gone.
    bool Gone() const { return Held() && !Connected(); }
    // Tells this connection from every other of the slot (it moves with every connect and
    // disconnect); 0 while not Connected().
    unsigned Identity() const { return Connected() ? m_generation : 0; }
    // The call is made at once on a direct sink, else queued; dropped while not connected.
    void Send(std::unique_ptr<SinkCall> call) const;
    // The sink in the server's apartment, or null when it is delivered to or not connected.
    IUnknown* Direct() const { return m_direct.Get(); }

private:
    std::shared_ptr<ClientDelivery> m_delivery;
    Microsoft::WRL::ComPtr<IUnknown> m_direct;
    SinkConnection m_connection = 0;
    unsigned m_generation = 0;  // moves with every connect and disconnect
};
