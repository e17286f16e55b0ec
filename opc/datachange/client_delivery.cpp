#include "opc/datachange/client_delivery.h"

#include <olectl.h>  // CONNECT_E_ADVISELIMIT

#include <algorithm>
#include <map>
#include <new>

#include "diagnostics/support_trace.h"
#include "opc_error.h"

std::atomic<DWORD> g_silenceBeforeProbeMs{10000};

namespace {

// A slow client's backlog is traced at most this often, and only once data changes coalesce or
// this many completions wait.
constexpr ULONGLONG kBacklogTraceEveryMs = 10000;
constexpr size_t kCompletionsWorthTracing = 100;

// Delivery threads whose queue is closed and that have not ended yet.
LONG g_endingDeliveries = 0;

// Whether `sink` is a proxy of an object in another apartment (only a proxy answers
// IClientSecurity).
bool InOtherApartment(IUnknown& sink)
{
    Microsoft::WRL::ComPtr<IClientSecurity> proxy;
    return SUCCEEDED(sink.QueryInterface(IID_PPV_ARGS(&proxy)));
}

// The call failed because the client's process or apartment is gone, not because it is busy.
// An apartment that ended has unregistered its interfaces: the call finds none (RPC_S_UNKNOWN_IF).
bool ClientGone(HRESULT hr)
{
    return hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED || hr == RPC_E_SERVER_DIED_DNE ||
           hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) ||
           hr == HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF) || hr == CO_E_OBJNOTCONNECTED;
}

// An advise sink's OnDataChange returns nothing, so a stream cannot tell whether it arrived.
// Marshalling the sink's proxy for an interface it has not got yet asks the client's side, and
// returns why that failed (Wine's QueryInterface on a proxy turns every failure into
// E_NOINTERFACE). Neither an OPC advise sink nor a data callback offers IAdviseSink2: a live
// client answers E_NOINTERFACE.
bool SinkAlive(IUnknown& sink)
{
    Microsoft::WRL::ComPtr<IStream> stream;
    if (FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream))) return true;
    const HRESULT hr = CoMarshalInterface(stream.Get(), IID_IAdviseSink2, &sink, MSHCTX_INPROC,
                                          nullptr, MSHLFLAGS_NORMAL);
    if (SUCCEEDED(hr)) {
        // A sink that does offer it: the references the marshalling took go back.
        const LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        CoReleaseMarshalData(stream.Get());
    }
    return !ClientGone(hr);
}

// Every so often, what the client's backlog came to: a trace line, not one a call.
void TraceBacklog(DeliveryQueue& queue, ULONGLONG& lastTraced)
{
    if (!g_supportTraceOn.load(std::memory_order_relaxed)) return;
    const ULONGLONG now = GetTickCount64();
    if (now - lastTraced < kBacklogTraceEveryMs) return;
    size_t coalesced = 0;
    size_t completions = 0;
    queue.TakeBacklog(coalesced, completions);
    if (coalesced == 0 && completions < kCompletionsWorthTracing) return;
    lastTraced = now;
    SUPPORT_TRACE((TraceClient{queue.clientProcessId, nullptr}), S_OK,
                  "client slow: %u data changes coalesced since the last line, %u completions "
                  "waiting",
                  static_cast<unsigned>(coalesced), static_cast<unsigned>(completions));
}

// The delivery thread's loop: it holds the proxy of each connected sink (its IUnknown; a call
// asks it for its interface, which the proxy answers itself) and makes the calls in order.
void DeliverAll(DeliveryQueue& queue)
{
    std::map<SinkConnection, Microsoft::WRL::ComPtr<IUnknown>> sinks;
    ULONGLONG lastHeard = GetTickCount64();
    ULONGLONG lastTraced = 0;
    QueuedDelivery entry;
    while (queue.WaitNext(entry)) {
        switch (entry.step) {
        case DeliveryStep::Connect: {
            Microsoft::WRL::ComPtr<IUnknown> sink;
            const HRESULT hr = CoGetInterfaceAndReleaseStream(entry.marshalledSink.Detach(),
                                                              IID_PPV_ARGS(&sink));
            if (FAILED(hr)) {
                SUPPORT_TRACE((TraceClient{queue.clientProcessId, nullptr}), hr,
                              "sink %u could not be reached: its advise is dropped",
                              entry.connection);
                queue.MarkGone(entry.connection);
                break;
            }
            try {
                sinks[entry.connection] = std::move(sink);
            } catch (const std::bad_alloc&) {
                queue.MarkGone(entry.connection);
            }
            break;
        }
        case DeliveryStep::Call: {
            const auto found = sinks.find(entry.connection);
            if (found == sinks.end()) break;
            bool told = false;
            const HRESULT hr = entry.call->MakeOn(*found->second.Get(), told);
            // A stream tells nothing: once the client has been silent for a while, its sink
            // is asked whether it is there, once, instead of after every stream.
            const ULONGLONG now = GetTickCount64();
            bool gone = ClientGone(hr);
            if (told && !gone) {
                lastHeard = now;
            } else if (!told && now - lastHeard >= g_silenceBeforeProbeMs) {
                gone = !SinkAlive(*found->second.Get());
                lastHeard = now;
            }
            if (gone) {
                SUPPORT_TRACE((TraceClient{queue.clientProcessId, nullptr}), hr,
                              "sink %u found gone%s: its advise is dropped", entry.connection,
                              told ? "" : " (asked after a silence)");
                queue.MarkGone(entry.connection);
                sinks.erase(found);
            }
            TraceBacklog(queue, lastTraced);
            break;
        }
        case DeliveryStep::Disconnect:
            // The release may wait on a frozen client: it does so here, not on the main thread.
            sinks.erase(entry.connection);
            break;
        }
        entry = QueuedDelivery{};
    }
    // Closed with sinks still connected (the client let go of nothing): released here.
    sinks.clear();
}

// What StartThread hands its delivery thread, on StartThread's stack until the thread has said
// whether its COM start succeeded.
struct DeliveryStart {
    std::shared_ptr<DeliveryQueue> queue;
    HANDLE comStarted = nullptr;  // set once `init` holds the thread's CoInitializeEx result
    HRESULT init = E_UNEXPECTED;
};

DWORD WINAPI DeliveryThread(void* parameter)
{
    auto& start = *static_cast<DeliveryStart*>(parameter);
    const std::shared_ptr<DeliveryQueue> queue = start.queue;
    // A multithreaded apartment: the thread makes calls out and serves none, so it needs no
    // message loop. It touches only the queue it shares and what is never destroyed (the trace,
    // a counter), so that it may outlive everything else at the process's end while a frozen
    // client holds it in a call.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    start.init = init;
    SetEvent(start.comStarted);  // `start` is gone from here on
    // Without COM nothing was queued (StartThread refuses the client's sink) and nothing is
    // counted: the thread just ends.
    if (FAILED(init)) return 0;
    DeliverAll(*queue);
    CoUninitialize();
    InterlockedDecrement(&g_endingDeliveries);
    return 0;
}

}  // namespace

bool DeliveryQueue::Push(QueuedDelivery entry)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_closed) return false;
        Connection* connection = nullptr;
        try {
            connection = &m_connections[entry.connection];
            connection->coalescible.reserve(kCoalescibleKept);
        } catch (const std::bad_alloc&) {
            return false;
        }
        entry.order = ++m_pushes;
        if (entry.step == DeliveryStep::Disconnect) {
            // Its waiting calls are dropped here, and skipped when their turn comes.
            m_gone.erase(entry.connection);
            m_bytes -= connection->bytes;
            m_completions -= connection->completions;
            *connection = Connection{};
            connection->droppedBefore = entry.order;
        } else if (entry.step == DeliveryStep::Call && entry.call->Coalesces()) {
            AbsorbInto(entry, *connection);
        } else if (entry.step == DeliveryStep::Call) {
            for (Coalescible& older : connection->coalescible) older.completionAfter = true;
        }
        if (entry.call) entry.bytes = entry.call->Bytes();
        const bool coalesces = entry.call && entry.call->Coalesces();
        try {
            m_entries.push_back(std::move(entry));
        } catch (const std::bad_alloc&) {
            return false;
        }
        if (coalesces) {
            // Room was reserved above: this never allocates.
            if (connection->coalescible.size() == kCoalescibleKept) {
                connection->coalescible.erase(connection->coalescible.begin());
            }
            connection->coalescible.push_back({std::prev(m_entries.end()), false});
        }
        Count(m_entries.back(), true);
    }
    m_ready.notify_one();
    return true;
}

void DeliveryQueue::AbsorbInto(QueuedDelivery& newer, Connection& connection)
{
    // Newest first, so that what the newer one takes in is the latest the client was owed. The
    // newer goes to the end: it comes after every completion queued before it, as it would have
    // on time.
    auto& waiting = connection.coalescible;
    for (size_t i = waiting.size(); i-- > 0;) {
        if (!newer.call->Absorb(*waiting[i].entry->call, waiting[i].completionAfter)) continue;
        Count(*waiting[i].entry, false);
        m_entries.erase(waiting[i].entry);
        waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
        ++m_coalesced;
    }
}

void DeliveryQueue::Count(const QueuedDelivery& entry, bool waiting)
{
    if (entry.step != DeliveryStep::Call || !entry.call) return;
    const size_t completions = entry.call->Coalesces() ? 0 : 1;
    // Pushed calls always have their connection's record: it goes only with Close or with a
    // disconnect taken after all of them.
    Connection& connection = m_connections.find(entry.connection)->second;
    if (waiting) {
        m_bytes += entry.bytes;
        m_completions += completions;
        connection.bytes += entry.bytes;
        connection.completions += completions;
    } else {
        m_bytes -= entry.bytes;
        m_completions -= completions;
        connection.bytes -= entry.bytes;
        connection.completions -= completions;
    }
}

void DeliveryQueue::Close()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_closed = true;
        m_entries.remove_if(
            [](const QueuedDelivery& waiting) { return waiting.step == DeliveryStep::Call; });
        m_connections.clear();
        m_completions = 0;
        m_bytes = 0;
    }
    m_ready.notify_one();
}

bool DeliveryQueue::TakeFront(QueuedDelivery& entry)
{
    while (!m_entries.empty()) {
        QueuedDelivery& front = m_entries.front();
        const auto found = m_connections.find(front.connection);
        if (front.step == DeliveryStep::Call &&
            (found == m_connections.end() || front.order < found->second.droppedBefore)) {
            m_entries.pop_front();  // already taken off the counts by its disconnect
            continue;
        }
        if (found == m_connections.end()) {  // a connect or disconnect after Close
            entry = std::move(front);
            m_entries.pop_front();
            return true;
        }
        Connection& connection = found->second;
        // A data change taken leaves its connection's list, where it is the oldest kept.
        auto& waiting = connection.coalescible;
        if (!waiting.empty() && waiting.front().entry == m_entries.begin()) {
            waiting.erase(waiting.begin());
        }
        entry = std::move(front);
        m_entries.pop_front();
        Count(entry, false);
        // Every call of a connection comes before its disconnect: nothing more of it waits.
        if (entry.step == DeliveryStep::Disconnect && connection.bytes == 0 &&
            connection.completions == 0 && waiting.empty()) {
            m_connections.erase(found);
        }
        return true;
    }
    return false;
}

bool DeliveryQueue::WaitNext(QueuedDelivery& entry)
{
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_ready.wait(guard, [this] { return m_closed || !m_entries.empty(); });
        if (TakeFront(entry)) return true;
        if (m_closed) return false;
    }
}

bool DeliveryQueue::TryNext(QueuedDelivery& entry)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return TakeFront(entry);
}

void DeliveryQueue::TakeBacklog(size_t& coalesced, size_t& completions)
{
    std::lock_guard<std::mutex> guard(m_lock);
    coalesced = m_coalesced;
    completions = m_completions;
    m_coalesced = 0;
}

bool DeliveryQueue::Saturated() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_completions >= kCompletionBound || m_bytes >= kByteBound;
}

void DeliveryQueue::Waiting(size_t& completions, size_t& bytes) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    completions = m_completions;
    bytes = m_bytes;
}

void DeliveryQueue::MarkGone(SinkConnection connection)
{
    std::lock_guard<std::mutex> guard(m_lock);
    try {
        m_gone.insert(connection);
    } catch (const std::bad_alloc&) {
        // The thread has let the sink go all the same; only the main thread goes on building
        // its calls until it is disconnected.
    }
}

bool DeliveryQueue::Gone(SinkConnection connection) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_gone.count(connection) != 0;
}

ClientDelivery::ClientDelivery() : m_queue(new (std::nothrow) DeliveryQueue) {}

ClientDelivery::~ClientDelivery()
{
    if (m_threadStarted) InterlockedIncrement(&g_endingDeliveries);
    if (m_queue) m_queue->Close();
}

void WaitForEndingDeliveries(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (InterlockedCompareExchange(&g_endingDeliveries, 0, 0) > 0 &&
           GetTickCount64() < deadline) {
        Sleep(10);
    }
}

bool ClientDelivery::StartThread()
{
    if (m_threadStarted) return true;
    if (!m_queue) return false;
    const std::unique_ptr<void, decltype(&CloseHandle)> comStarted(
        CreateEventW(nullptr, TRUE, FALSE, nullptr), &CloseHandle);
    if (!comStarted) return false;
    DeliveryStart start{m_queue, comStarted.get()};
    // The thread is never joined: it ends on its own once the queue is closed and empty. It is
    // counted as started only once its COM start succeeded, so that no sink is queued for a
    // thread that will never take it and the ending threads' count stays balanced; the wait is
    // for a CoInitializeEx, which calls into no other apartment.
    const HANDLE thread = CreateThread(nullptr, 0, DeliveryThread, &start, 0, nullptr);
    if (thread) {
        WaitForSingleObject(comStarted.get(), INFINITE);
        CloseHandle(thread);
    }
    const HRESULT hr = thread ? start.init : HRESULT_FROM_WIN32(GetLastError());
    if (FAILED(hr)) {
        SUPPORT_TRACE((TraceClient{m_queue->clientProcessId, nullptr}), hr,
                      "delivery thread not started: the client's sink is refused");
        return false;
    }
    m_threadStarted = true;
    return true;
}

SinkConnection ClientDelivery::Connect(REFIID iid, IUnknown& sink)
{
    if (!StartThread()) return 0;
    Microsoft::WRL::ComPtr<IStream> marshalled;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(iid, &sink, &marshalled))) return 0;
    if (++m_lastConnection == 0) ++m_lastConnection;
    QueuedDelivery entry;
    entry.step = DeliveryStep::Connect;
    entry.connection = m_lastConnection;
    entry.marshalledSink = marshalled;
    if (m_queue->Push(std::move(entry))) return m_lastConnection;
    CoReleaseMarshalData(marshalled.Get());
    return 0;
}

void ClientDelivery::Disconnect(SinkConnection connection)
{
    QueuedDelivery entry;
    entry.step = DeliveryStep::Disconnect;
    entry.connection = connection;
    m_queue->Push(std::move(entry));
}

void ClientDelivery::Send(SinkConnection connection, std::unique_ptr<SinkCall> call)
{
    QueuedDelivery entry;
    entry.connection = connection;
    entry.call = std::move(call);
    m_queue->Push(std::move(entry));  // see the declaration: a failure drops the call
}

bool ClientDelivery::Gone(SinkConnection connection) const
{
    return m_queue->Gone(connection);
}

RequestCharge ClientDelivery::Charge(size_t answerBytes)
{
    size_t completions = 0;
    size_t bytes = 0;
    if (m_queue) m_queue->Waiting(completions, bytes);
    if (m_requestsCharged + completions < DeliveryQueue::kCompletionBound &&
        m_bytesCharged + bytes + answerBytes <= DeliveryQueue::kByteBound) {
        ++m_requestsCharged;
        m_bytesCharged += answerBytes;
        return RequestCharge(this, answerBytes);
    }
    const ULONGLONG now = GetTickCount64();
    if (m_queue && now - m_queue->refusalTracedAt >= 1000) {
        m_queue->refusalTracedAt = now;
        SUPPORT_TRACE((TraceClient{m_queue->clientProcessId, nullptr}),
                      OPC_SERVER_E_CALLBACKS_BACKLOGGED,
                      "asynchronous request refused: %u requests and completions wait, %u KB",
                      static_cast<unsigned>(m_requestsCharged + completions),
                      static_cast<unsigned>((m_bytesCharged + bytes) >> 10));
    }
    return RequestCharge();
}

RequestCharge& RequestCharge::operator=(RequestCharge&& other) noexcept
{
    if (this != &other) {
        Release();
        m_delivery = other.m_delivery;
        m_bytes = other.m_bytes;
        other.m_delivery = nullptr;
        other.m_bytes = 0;
    }
    return *this;
}

void RequestCharge::Release()
{
    if (!m_delivery) return;
    --m_delivery->m_requestsCharged;
    m_delivery->m_bytesCharged -= m_bytes;
    m_delivery = nullptr;
    m_bytes = 0;
}

void ClientDelivery::SetClientProcessId(DWORD processId)
{
    if (m_queue) m_queue->clientProcessId = processId;
}


ClientSink::ClientSink(std::shared_ptr<ClientDelivery> delivery) : m_delivery(std::move(delivery))
{
}

HRESULT ClientSink::Connect(REFIID iid, Microsoft::WRL::ComPtr<IUnknown> sink)
{
    // A sink found gone is let go first: its slot serves the client's new sink.
    if (Held()) Disconnect();
    const unsigned generation = ++m_generation;
    if (!InOtherApartment(*sink.Get())) {
        m_direct = std::move(sink);
        return S_OK;
    }
    const SinkConnection connection = m_delivery->Connect(iid, *sink.Get());
    if (!connection) return E_OUTOFMEMORY;
    if (generation != m_generation) {
        // The client connected or let go of the slot from within the marshalling.
        m_delivery->Disconnect(connection);
        return m_direct || m_connection ? CONNECT_E_ADVISELIMIT : S_FALSE;
    }
    m_connection = connection;
    // The caller's reference, the main thread's proxy, goes on return, while the client is
    // still in the call that gave it.
    return S_OK;
}

void ClientSink::Disconnect()
{
    ++m_generation;
    if (m_connection) m_delivery->Disconnect(m_connection);
    m_connection = 0;
    const Microsoft::WRL::ComPtr<IUnknown> leaving = std::move(m_direct);
}

bool ClientSink::Connected() const
{
    return m_direct || (m_connection && !m_delivery->Gone(m_connection));
}

void ClientSink::Send(std::unique_ptr<SinkCall> call) const
{
    if (m_connection) {
        if (!m_delivery->Gone(m_connection)) m_delivery->Send(m_connection, std::move(call));
        return;
    }
    // Held for the call: the client may let go of everything from within it.
    const Microsoft::WRL::ComPtr<IUnknown> sink = m_direct;
    bool told = false;
    if (sink) call->MakeOn(*sink.Get(), told);
}
