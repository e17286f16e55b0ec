#include "opc/datachange/stream_delivery.h"

#include <wrl/client.h>

#include <new>

#include "opc/datachange/dead_sink_report.h"
#include "opc/datachange/stream_handover.h"

namespace {

constexpr int kConnections = 3;  // one a stream format

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

// OnDataChange returns nothing, so a failed delivery cannot be seen in its result. Marshalling
// the sink's proxy for an interface it has not got yet asks the client's side, and returns
// why that failed (Wine's QueryInterface on a proxy turns every failure into E_NOINTERFACE).
// An OPC sink offers no IAdviseSink2: a live client answers E_NOINTERFACE.
bool SinkAlive(IAdviseSink& sink)
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
    Microsoft::WRL::ComPtr<IAdviseSink> sinks[kConnections];
    QueuedDelivery entry;
    while (queue.WaitNext(entry)) {
        Microsoft::WRL::ComPtr<IAdviseSink>& sink = sinks[entry.connection];
        switch (entry.step) {
        case DeliveryStep::Connect: {
            sink.Reset();
            const HRESULT hr =
                CoGetInterfaceAndReleaseStream(entry.marshalledSink.Detach(), IID_PPV_ARGS(&sink));
            if (FAILED(hr)) ReportDeadSink(id);
            break;
        }
        case DeliveryStep::Stream:
            if (!sink) break;
            SendStream(*sink.Get(), entry.format, std::move(entry.block));
            // Asked once a burst: a healthy client is not asked after every stream.
            if (queue.Empty() && !SinkAlive(*sink.Get())) {
                ReportDeadSink(id);
                sink.Reset();
            }
            break;
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

StreamDelivery::StreamDelivery(std::shared_ptr<DeliveryQueue> queue, DWORD id)
    : m_queue(std::move(queue)), m_id(id)
{
}

std::unique_ptr<StreamDelivery> StreamDelivery::Start()
{
    std::shared_ptr<DeliveryQueue> queue;
    try {
        queue = std::make_shared<DeliveryQueue>();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    const DWORD id = static_cast<DWORD>(InterlockedIncrement(&g_lastDeliveryId));
    std::unique_ptr<StreamDelivery> delivery(new (std::nothrow) StreamDelivery(queue, id));
    std::unique_ptr<ThreadStart> start(new (std::nothrow) ThreadStart{queue, id});
    if (!delivery || !start) return nullptr;
    // The thread is never joined: it ends on its own once the queue is closed and empty.
    const HANDLE thread = CreateThread(nullptr, 0, DeliveryThread, start.get(), 0, nullptr);
    if (!thread) return nullptr;
    start.release();
    CloseHandle(thread);
    return delivery;
}

StreamDelivery::~StreamDelivery()
{
    for (int connection = 0; connection < kConnections; ++connection) Disconnect(connection);
    m_queue->Close();
}

Microsoft::WRL::ComPtr<IStream> StreamDelivery::Marshal(IAdviseSink* sink)
{
    Microsoft::WRL::ComPtr<IStream> marshalled;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IAdviseSink, sink,
                                                     marshalled.GetAddressOf()))) {
        return nullptr;
    }
    return marshalled;
}

bool StreamDelivery::Connect(int connection, const Microsoft::WRL::ComPtr<IStream>& marshalledSink)
{
    QueuedDelivery entry;
    entry.step = DeliveryStep::Connect;
    entry.connection = connection;
    entry.marshalledSink = marshalledSink;
    if (m_queue->Push(std::move(entry))) return true;
    CoReleaseMarshalData(marshalledSink.Get());
    return false;
}

void StreamDelivery::Disconnect(int connection)
{
    QueuedDelivery entry;
    entry.step = DeliveryStep::Disconnect;
    entry.connection = connection;
    m_queue->Push(std::move(entry));
}

void StreamDelivery::Send(int connection, CLIPFORMAT format, bool coalesces, StreamBlock block)
{
    QueuedDelivery entry;
    entry.connection = connection;
    entry.format = format;
    entry.coalesces = coalesces;
    entry.block = std::move(block);
    m_queue->Push(std::move(entry));  // see the declaration: a failure drops the stream
}
