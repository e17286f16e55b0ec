// Asynchronous reads across processes: a client that reads through IOPCAsyncIO2 one request at
// a time, waiting for each OnReadComplete before the next, as a historian reading round-robin
// does. Round trips per second and the median and 95th-percentile latency of Reads of 10 and
// 1000 items, at the shortest poll period (55 ms) and the default (1000 ms), against a
// synchronous Read of the same items in the same run.
#include <windows.h>
#include <wrl/client.h>
#include <ocidl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/best_of.h"
#include "bench/served_project.h"
#include "opc_da.h"
#include "server_identity.h"
#include "tests/e2e/server_process.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kTags = 1000;
constexpr int kRoundTrips = 24;
constexpr DWORD kPatienceMs = 30000;

// A data callback that keeps the transaction ID of the last read completion; lives on the stack.
class ReadCompletions final : public IOPCDataCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOPCDataCallback) return E_NOINTERFACE;
        *ppv = static_cast<IOPCDataCallback*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                           VARIANT*, WORD*, FILETIME*, HRESULT*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD dwTransid, OPCHANDLE, HRESULT, HRESULT, DWORD,
                                             OPCHANDLE*, VARIANT*, WORD*, FILETIME*,
                                             HRESULT*) override
    {
        lastRead = dwTransid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                              HRESULT*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    DWORD lastRead = 0;
};

struct Client {
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> items;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    std::vector<OPCHANDLE> handles;
};

bool Connect(Client& client, ReadCompletions& sink)
{
    OPCHANDLE group = 0;
    DWORD revised = 0;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&client.server))) ||
        FAILED(client.server->AddGroup(
            L"latency", TRUE, 1000, 1, nullptr, nullptr, 0, &group, &revised, IID_IOPCItemMgt,
            reinterpret_cast<IUnknown**>(client.items.GetAddressOf())))) {
        return false;
    }
    std::vector<std::wstring> names;
    std::vector<OPCITEMDEF> definitions(kTags, OPCITEMDEF{});
    for (int i = 0; i < kTags; ++i) names.push_back(L"TAG" + std::to_wstring(i));
    for (int i = 0; i < kTags; ++i) {
        definitions[i].szItemID = names[i].data();
        definitions[i].bActive = TRUE;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT added = client.items->AddItems(kTags, definitions.data(), &results, &errors);
    for (int i = 0; results && i < kTags; ++i) client.handles.push_back(results[i].hServer);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    ComPtr<IConnectionPointContainer> container;
    return added == S_OK && SUCCEEDED(client.items.As(&container)) &&
           SUCCEEDED(container->FindConnectionPoint(IID_IOPCDataCallback, &client.point)) &&
           SUCCEEDED(client.point->Advise(&sink, &client.cookie));
}

double Percentile(std::vector<double> figures, double share)
{
    std::sort(figures.begin(), figures.end());
    return figures[static_cast<size_t>(share * (figures.size() - 1))];
}

// Sequential IOPCAsyncIO2::Reads of `count` items, each waited for; the latencies in seconds.
bool AsyncReads(Client& client, ReadCompletions& sink, DWORD count, std::vector<double>& latencies)
{
    ComPtr<IOPCAsyncIO2> io;
    if (FAILED(client.items.As(&io))) return false;
    for (DWORD transaction = 1; transaction <= kRoundTrips; ++transaction) {
        LARGE_INTEGER start, stop;
        QueryPerformanceCounter(&start);
        DWORD cancelId = 0;
        HRESULT* errors = nullptr;
        const HRESULT hr = io->Read(count, client.handles.data(), transaction, &cancelId, &errors);
        CoTaskMemFree(errors);
        if (hr != S_OK || !WaitUntil([&] { return sink.lastRead == transaction; }, kPatienceMs))
            return false;
        QueryPerformanceCounter(&stop);
        latencies.push_back(Seconds(start, stop));
    }
    sink.lastRead = 0;
    return true;
}

double SyncRead(Client& client, DWORD count)
{
    ComPtr<IOPCSyncIO> io;
    if (FAILED(client.items.As(&io))) return 0;
    return BestOf(kRoundTrips, [&] {
        OPCITEMSTATE* states = nullptr;
        HRESULT* errors = nullptr;
        if (SUCCEEDED(io->Read(OPC_DS_CACHE, count, client.handles.data(), &states, &errors))) {
            for (DWORD i = 0; i < count; ++i) VariantClear(&states[i].vDataValue);
        }
        CoTaskMemFree(states);
        CoTaskMemFree(errors);
    });
}

int Measure(int32_t pollPeriodMs)
{
    const ServedProject project(kTags, pollPeriodMs);
    if (!project.Failure().empty()) {
        std::printf("not measured: %s\n", project.Failure().c_str());
        return 1;
    }
    ReadCompletions sink;
    Client client;
    if (!Connect(client, sink)) {
        std::printf("poll period %d ms: the client could not connect\n", pollPeriodMs);
        return 1;
    }
    for (const DWORD count : {DWORD{10}, DWORD{1000}}) {
        std::vector<double> latencies;
        if (!AsyncReads(client, sink, count, latencies)) {
            std::printf("poll period %d ms, %lu items: a read went unanswered\n", pollPeriodMs,
                        static_cast<unsigned long>(count));
            return 1;
        }
        double total = 0;
        for (const double latency : latencies) total += latency;
        const double median = Percentile(latencies, 0.5);
        const double sync = SyncRead(client, count);
        std::printf(
            "poll period %4d ms, %4lu items: %7.1f round trips/s, median %7.2f ms, 95th "
            "percentile %7.2f ms; sync Read %5.2f ms (median x%.1f)\n",
            pollPeriodMs, static_cast<unsigned long>(count), latencies.size() / total, median * 1e3,
            Percentile(latencies, 0.95) * 1e3, sync * 1e3, median / sync);
    }
    client.point->Unadvise(client.cookie);
    return 0;
}

}  // namespace

int main()
{
    if (FAILED(CoInitialize(nullptr))) return 1;
    std::printf("sequential IOPCAsyncIO2::Read across processes, %d round trips each:\n",
                kRoundTrips);
    int result = 0;
    for (const int32_t period : {55, 1000}) result |= Measure(period);
    CoUninitialize();
    return result;
}
