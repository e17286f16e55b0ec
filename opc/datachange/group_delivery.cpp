#include "opc/datachange/group_delivery.h"

#include <wrl/client.h>

#include <new>

#include "opc/datachange/dead_sink_report.h"

namespace {

constexpr int kConnections = kDataCallbackConnection + 1;

LONG g_lastDeliveryId = 0;

struct ThreadStart {
    std::shared_ptr<DeliveryQueue> queue;
    DWORD id;
};

// The call failed because the client's process or apartment is gone, not because it is busy.
bool ClientGone(HRESULT hr)
{
    return hr == RPC_E_DISCONNECTED || hr == RPC_E_SERVER_DIED || hr == RPC_E_SERVER_DIED_DNE ||
           hr == HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE) ||
           hr == HRESULT_FROM_WIN32(RPC_S_CALL_FAILED) || hr == CO_E_OBJNOTCONNECTED;
}

// An advise sink's OnDataChange returns nothing, so a failed delivery cannot always be seen in
// its result. Marshalling the sink's proxy for an interface it has not got yet asks the
// client's side, and returns why that failed (Wine's QueryInterface on a proxy turns every
// failure into E_NOINTERFACE). Neither an OPC advise sink nor a data callback offers
// IAdviseSink2: a live client answers E_NOINTERFACE.
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

void DeliverAll(DeliveryQueue& queue, DWORD id)
{
    // Each the proxy's IUnknown; a call asks it for its interface, which the proxy answers
    // itself.
    Microsoft::WRL::ComPtr<IUnknown> sinks[kConnections];
    QueuedDelivery entry;
    while (queue.WaitNext(entry)) {
        Microsoft::WRL::ComPtr<IUnknown>& sink = sinks[entry.connection];
        switch (entry.step) {
        case DeliveryStep::Connect: {
            sink.Reset();
            const HRESULT hr =
                CoGetInterfaceAndReleaseStream(entry.marshalledSink.Detach(), IID_PPV_ARGS(&sink));
            if (FAILED(hr)) ReportDeadSink(id);
            break;
        }
        case DeliveryStep::Call: {
            if (!sink) break;
            const HRESULT hr = entry.call->MakeOn(*sink.Get());
            // Asked once a burst: a healthy client is not asked after every call.
            if (ClientGone(hr) || (queue.Empty() && !SinkAlive(*sink.Get()))) {
                ReportDeadSink(id);
                sink.Reset();
            }
            break;
        }
        case DeliveryStep::Disconnect:
            // The release may wait on a frozen client: it does so here, not on the main thread.
            sink.Reset();
            break;
        }
        entry = QueuedDelivery{};
    }
}

DWORD WINAPI DeliveryThread(void* parameter)
{
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(parameter));
    // A multithreaded apartment: the thread makes calls out and serves none, so it needs no
    // message loop.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(init)) {
        DeliverAll(*start->queue, start->id);
        CoUninitialize();
    }
    return 0;
}

}  // namespace

GroupDelivery::GroupDelivery(std::shared_ptr<DeliveryQueue> queue, DWORD id)
    : m_queue(std::move(queue)), m_id(id)
{
}

std::unique_ptr<GroupDelivery> GroupDelivery::Start()
{
    std::shared_ptr<DeliveryQueue> queue;
    try {
        queue = std::make_shared<DeliveryQueue>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const DWORD id = static_cast<DWORD>(InterlockedIncrement(&g_lastDeliveryId));
    std::unique_ptr<GroupDelivery> delivery(new (std::nothrow) GroupDelivery(queue, id));
    std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{queue, id});
    if (!delivery || !start) return nullptr;
    // The thread is never joined: it ends on its own once the queue is closed and empty.
    const HANDLE thread = CreateThread(nullptr, 0, DeliveryThread, start.get(), 0, nullptr);
    if (!thread) return nullptr;
    start.release();
    CloseHandle(thread);
    return delivery;
}

GroupDelivery::~GroupDelivery()
{
    for (int connection = 0; connection < kConnections; ++connection) Disconnect(connection);
    m_queue->Close();
}

Microsoft::WRL::ComPtr<IStream> GroupDelivery::Marshal(REFIID iid, IUnknown* sink)
{
    Microsoft::WRL::ComPtr<IStream> marshalled;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(iid, sink, marshalled.GetAddressOf()))) {
        return nullptr;
    }
    return marshalled;
}

bool GroupDelivery::Connect(int connection, const Microsoft::WRL::ComPtr<IStream>& marshalledSink)
{
    QueuedDelivery entry;
    entry.step = DeliveryStep::Connect;
    entry.connection = connection;
    entry.marshalledSink = marshalledSink;
    if (m_queue->Push(std::move(entry))) return true;
    CoReleaseMarshalData(marshalledSink.Get());
    return false;
}

void GroupDelivery::Disconnect(int connection)
{
    QueuedDelivery entry;
    entry.step = DeliveryStep::Disconnect;
    entry.connection = connection;
    m_queue->Push(std::move(entry));
}

void GroupDelivery::Send(int connection, std::unique_ptr<SinkCall> call)
{
    QueuedDelivery entry;
    entry.connection = connection;
    entry.call = std::move(call);
    m_queue->Push(std::move(entry));  // see the declaration: a failure drops the call
}
