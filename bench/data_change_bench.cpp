// Data-change delivery. In-process at full load: 9 server objects x 10 groups x 10000 active
// items, both data sinks of every group set to counting sinks; one poll cycle with its update
// pass, with no tag changing and with a tenth of the tags changing each cycle, against the
// shortest timer period and against a plain copy of the bytes of its streams (from one source
// hot in the caches, and from a source apart for each stream), the pass by subscribers and by
// items, and stream building against a plain copy of the same
// bytes. Across processes: the registered OPCServer.exe delivering groups of 100, 1000 and
// 10000 items to one subscribed client (this program); then the same group subscribed through
// the DA 2.0 connection point and a DA 1.0 data-with-time sink at once, its tags changed in the
// Viewer's area: all of them, or 1%.
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/best_of.h"
#include "bench/mixed_tag_area.h"
#include "bench/served_project.h"
#include "diagnostics/support_trace.h"
#include "opc/datachange/client_delivery.h"
#include "opc/datachange/group_streams.h"
#include "opc/datachange/sink_calls.h"
#include "opc/group/group_object.h"
#include "opc/server/class_factory.h"
#include "opc/server/com_server_lifetime.h"
#include "opc/server/server_table.h"
#include "opc/values/tag_lookup.h"
#include "runtime_link/tag_record.h"
#include "server_identity.h"
#include "tests/e2e/server_process.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kTags = kMixedTags;
constexpr int kServers = 9;
constexpr int kGroupsPerServer = 10;
constexpr int kRounds = 3;
constexpr double kShortestTimerMs = 55.0;
constexpr int kPassesAcross = 3;

// Milliseconds from a poll cycle's time (UTC, as the server stamps a changed value) to now.
double MsSinceCycle(const FILETIME& cycle)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return (static_cast<double>(ticks(now)) - static_cast<double>(ticks(cycle))) / 1e4;
}

// Counts what it is handed; a pointer per sink slot keeps it from the stack of a frame that
// ends before the groups do.
class CountingSink final : public IAdviseSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IAdviseSink) return E_NOINTERFACE;
        *ppv = static_cast<IAdviseSink*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC* format, STGMEDIUM* medium) override
    {
        ++callbacks;
        const auto* bytes = static_cast<const BYTE*>(GlobalLock(medium->hGlobal));
        DWORD items = 0;
        std::memcpy(&items, bytes + 4, sizeof items);
        values += items;
        // The first item of a data-with-time stream carries the time of the poll cycle that
        // saw its value change.
        if (stampedFormat && format->cfFormat == stampedFormat && items) {
            FILETIME stamp;
            std::memcpy(&stamp,
                        bytes + sizeof(OPCGROUPHEADER) + offsetof(OPCITEMHEADER1, ftTimeStampItem),
                        sizeof stamp);
            latenciesMs.push_back(MsSinceCycle(stamp));
        }
        GlobalUnlock(medium->hGlobal);
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        arrivals.push_back(now);
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

    unsigned long long callbacks = 0;
    unsigned long long values = 0;
    std::vector<LARGE_INTEGER> arrivals;
    CLIPFORMAT stampedFormat = 0;  // streams of this format have their latency kept
    std::vector<double> latenciesMs;

private:
    ULONG m_refs = 0;
};

// Counts the values of each data change that comes through a group's connection point, with the
// time from the poll cycle that saw them change (the newest item's stamp) to its coming.
class CountingCallback final : public IOPCDataCallback {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOPCDataCallback) return E_NOINTERFACE;
        *ppv = static_cast<IOPCDataCallback*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --m_refs; }
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD dwCount,
                                           OPCHANDLE*, VARIANT*, WORD*, FILETIME* pftTimeStamps,
                                           HRESULT*) override
    {
        FILETIME newest{};
        for (DWORD i = 0; pftTimeStamps && i < dwCount; ++i) {
            if (CompareFileTime(&pftTimeStamps[i], &newest) > 0) newest = pftTimeStamps[i];
        }
        calls.push_back(Call{dwCount, dwCount ? MsSinceCycle(newest) : 0.0});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, OPCHANDLE*,
                                             VARIANT*, WORD*, FILETIME*, HRESULT*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, OPCHANDLE*,
                                              HRESULT*) override
    {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }

    struct Call {
        DWORD values;
        double latencyMs;
    };
    std::vector<Call> calls;

private:
    ULONG m_refs = 0;
};

// Changes the first `count` tags of the Viewer's area (integer tags) four times a poll period,
// on a thread of its own, while it lives.
class TagChanger {
public:
    explicit TagChanger(int count)
        : m_mapping(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, kSharedTagAreaName)),
          m_view(m_mapping ? MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0) : nullptr),
          m_thread([this, count] { Run(count); })
    {
    }
    ~TagChanger()
    {
        m_stop = true;
        m_thread.join();
        if (m_view) UnmapViewOfFile(m_view);
        if (m_mapping) CloseHandle(m_mapping);
    }
    TagChanger(const TagChanger&) = delete;
    TagChanger& operator=(const TagChanger&) = delete;

private:
    void Run(int count)
    {
        auto* records = static_cast<TagRecord*>(m_view);
        while (!m_stop && records) {
            for (int i = 0; i < count; ++i) ++records[i].integerValue;
            Sleep(250);
        }
    }

    HANDLE m_mapping;
    void* m_view;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;  // last: it starts once the view is there
};

double Median(std::vector<double> figures)
{
    if (figures.empty()) return 0;
    std::sort(figures.begin(), figures.end());
    return figures[figures.size() / 2];
}

CLIPFORMAT Format(const char* name)
{
    return static_cast<CLIPFORMAT>(RegisterClipboardFormatA(name));
}

bool Advise(IUnknown* group, IAdviseSink* sink, const std::vector<CLIPFORMAT>& formats)
{
    ComPtr<IDataObject> data;
    if (FAILED(group->QueryInterface(IID_PPV_ARGS(&data)))) return false;
    for (CLIPFORMAT format : formats) {
        FORMATETC formatEtc{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        DWORD token = 0;
        if (FAILED(data->DAdvise(&formatEtc, 0, sink, &token))) return false;
    }
    return true;
}

// A group of `count` active items TAG0.., rate 1000 ms, as IOPCItemMgt.
ComPtr<IOPCItemMgt> AddGroupOfItems(IOPCServer* server, const std::wstring& name, int count,
                                    const wchar_t* namePattern)
{
    ComPtr<IOPCItemMgt> items;
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    if (FAILED(server->AddGroup(name.c_str(), TRUE, 1000, 1, nullptr, nullptr, 0, &handle, &revised,
                                IID_IOPCItemMgt,
                                reinterpret_cast<IUnknown**>(items.GetAddressOf())))) {
        return nullptr;
    }
    std::vector<std::wstring> ids(count);
    std::vector<OPCITEMDEF> definitions(count, OPCITEMDEF{});
    for (int i = 0; i < count; ++i) {
        wchar_t id[16];
        std::swprintf(id, 16, namePattern, i);
        ids[i] = id;
        definitions[i].szItemID = ids[i].data();
        definitions[i].szAccessPath = const_cast<LPWSTR>(L"");
        definitions[i].bActive = TRUE;
        definitions[i].hClient = static_cast<OPCHANDLE>(i);
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = items->AddItems(count, definitions.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return hr == S_OK ? items : nullptr;
}

// Server objects with groups of active items, every group's sinks set to one sink; the groups
// are let go before their servers.
struct Load {
    std::vector<ComPtr<IOPCServer>> servers;
    std::vector<ComPtr<IOPCItemMgt>> groups;
};

bool MakeLoad(int servers, int groupsPerServer, int itemsPerGroup, IAdviseSink* sink,
              const std::vector<CLIPFORMAT>& formats, Load& load)
{
    ComPtr<IClassFactory> factory(new ServerClassFactory);
    for (int s = 0; s < servers; ++s) {
        ComPtr<IOPCServer> server;
        if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&server)))) return false;
        for (int g = 0; g < groupsPerServer; ++g) {
            ComPtr<IOPCItemMgt> group =
                AddGroupOfItems(server.Get(), L"G" + std::to_wstring(g), itemsPerGroup, L"TAG%05d");
            if (!group || !Advise(group.Get(), sink, formats)) {
                std::fprintf(stderr, "cannot set up group %d of server %d\n", g, s);
                return false;
            }
            load.groups.push_back(group);
        }
        load.servers.push_back(server);
    }
    return true;
}

void Unadvise(const Load& load, CLIPFORMAT format)
{
    for (const ComPtr<IOPCItemMgt>& group : load.groups) {
        ComPtr<IDataObject> data;
        group.As(&data);
        data->DUnadvise(format);
    }
}

// Changes every tenth tag's value in the Viewer's area, as the Viewer would between two poll
// cycles: each kind by turns, a string keeping its length.
constexpr int kChangingEvery = 10;
void ChangeEveryTenthTag()
{
    static int round = 0;
    ++round;
    for (int i = 0; i < kMixedTags; i += kChangingEvery) {
        TagRecord& r = g_sharedTagArea[i + round % kChangingEvery];
        r.discreteValue ^= 1;
        ++r.integerValue;
        r.realValue += 1;
        r.stringValue[0] = r.stringValue[0] == 'v' ? 'V' : 'v';
    }
}

// Every pass expires (rate 1000, period 1000): the full work of each group.
double OnePass()
{
    return BestOf(kRounds, [] { UpdateAllServers(1000); });
}

// What one update pass with both sinks costs as the items grow, in the shapes of the design
// limit: one group, then groups of 10000 in one server object, then in nine.
void PrintPassByItems(IAdviseSink* sink, const std::vector<CLIPFORMAT>& formats)
{
    const struct {
        int servers, groups, items;
    } loads[] = {{1, 1, 1000}, {1, 1, 10000}, {1, 10, 10000}, {kServers, kGroupsPerServer, kTags}};
    std::printf("one update pass, both sinks, by items:");
    double perItemAtFirst = 0;
    for (const auto& shape : loads) {
        Load load;
        if (!MakeLoad(shape.servers, shape.groups, shape.items, sink, formats, load)) return;
        const double pass = OnePass();
        const double items = double(shape.servers) * shape.groups * shape.items;
        if (perItemAtFirst == 0) perItemAtFirst = pass / items;
        std::printf("  %.0f: %.2f ms (%.1f ns/item, x%.2f)", items, pass * 1e3, pass * 1e9 / items,
                    pass / items / perItemAtFirst);
    }
    std::printf("\n");
}

// A frozen client's delivery queue: a push, data change or completion, costs the same however
// many calls already wait.
void PrintQueuePushByBacklog()
{
    const auto call = [](SinkConnection connection, bool coalesces) {
        QueuedDelivery entry;
        entry.connection = connection;
        entry.call = std::make_unique<StreamCall>(CLIPFORMAT{1}, coalesces, StreamBlock{});
        return entry;
    };
    std::printf("delivery queue, one push by calls already waiting:");
    double first = 0;
    for (const int waiting : {10, 1000, 10000}) {
        constexpr int kPushes = 2000;
        const double seconds = BestOf(kRounds, [&] {
            DeliveryQueue queue;
            for (int i = 0; i < waiting; ++i) queue.Push(call(2, false));
            for (int i = 0; i < kPushes; ++i) queue.Push(call(1, i % 2 == 0));
        });
        const double perPush = seconds / (waiting + kPushes) * 1e9;
        if (first == 0) first = perPush;
        std::printf("  %d: %.0f ns (x%.2f)", waiting, perPush, perPush / first);
    }
    std::printf("\n");
}

int InProcess()
{
    MixedTagArea area;
    if (!area.Ready()) {
        std::fprintf(stderr, "cannot create the shared tag area\n");
        return 1;
    }

    CountingSink sink;
    const CLIPFORMAT dataFormat = Format("OPCSTMFORMATDATA");
    const CLIPFORMAT dataTimeFormat = Format("OPCSTMFORMATDATATIME");
    const std::vector<CLIPFORMAT> formats = {dataFormat, dataTimeFormat};
    Load load;
    if (!MakeLoad(kServers, kGroupsPerServer, kTags, &sink, formats, load)) return 1;

    SetAfterPollCycle(nullptr);
    const double pollOnly = BestOf(kRounds, RunPollCycle);
    const double updateOnly = OnePass();
    SetAfterPollCycle(UpdateAllServersIfInUse);
    sink.callbacks = sink.values = 0;
    const double cycle = BestOf(kRounds, RunPollCycle);
    const unsigned long long callbacksPerCycle = sink.callbacks / kRounds;
    const unsigned long long valuesPerCycle = sink.values / kRounds;
    const double changingCycle = BestOf(kRounds, [] {
        ChangeEveryTenthTag();
        RunPollCycle();
    });
    // The same with the support trace on, into a file of its own.
    wchar_t tracePath[MAX_PATH] = {};
    GetTempFileNameW(SupportTracePath().substr(0, SupportTracePath().find_last_of(L'\\')).c_str(),
                     L"trc", 0, tracePath);
    StartSupportTrace(tracePath);
    const double tracedCycle = BestOf(kRounds, [] {
        ChangeEveryTenthTag();
        RunPollCycle();
    });
    StopSupportTrace();
    DeleteFileW(tracePath);
    SetAfterPollCycle(nullptr);

    // One group's data-with-time stream of 10000 items: reading the items and building the
    // bytes, the building alone, and a plain copy of as many bytes.
    ComPtr<IUnknown> identity;
    load.groups[0].As(&identity);
    GroupObject& group = *static_cast<GroupObject*>(identity.Get());
    std::vector<OPCHANDLE> handles(kTags);
    for (int i = 0; i < kTags; ++i) handles[i] = static_cast<OPCHANDLE>(i);
    StreamItemList list;
    const double readAndBuild = BestOf(kRounds * 5, [&] {
        ReadStreamItems(group, handles.data(), kTags, 0, list);
        BuildDataStream(DataStreamFormat::DataTime, 1, 0, list.items);
    });
    const double build =
        BestOf(kRounds * 5, [&] { BuildDataStream(DataStreamFormat::DataTime, 1, 0, list.items); });
    const size_t bytes =
        static_cast<size_t>(DataStreamSize(DataStreamFormat::DataTime, list.items));
    const size_t dataBytes =
        static_cast<size_t>(DataStreamSize(DataStreamFormat::Data, list.items));
    std::vector<BYTE> from(bytes, 0x5A);
    const auto copyInto = [&from](size_t size) {
        StreamBlock block = AllocateStreamBlock(size);
        std::memcpy(GlobalLock(block.get()), from.data(), size);
        GlobalUnlock(block.get());
    };
    const double copy = BestOf(kRounds * 5, [&] { copyInto(bytes); });
    // The bytes of every stream of a cycle, each copied into a new block that is freed again as
    // a sent stream's block is.
    const size_t groups = load.groups.size();
    const double copyOfCycle = BestOf(kRounds, [&] {
        for (size_t g = 0; g < groups; ++g) {
            copyInto(bytes);
            copyInto(dataBytes);
        }
    });
    // The same bytes as they lie in a server: every stream in memory of its own, most of it
    // not in the caches, where the copy above reads one stream's bytes again and again.
    std::vector<std::vector<BYTE>> sources;
    for (size_t g = 0; g < groups; ++g) {
        sources.emplace_back(bytes, BYTE(g));
        sources.emplace_back(dataBytes, BYTE(g));
    }
    const double copyOfCycleApart = BestOf(kRounds, [&] {
        for (const std::vector<BYTE>& source : sources) {
            StreamBlock block = AllocateStreamBlock(source.size());
            std::memcpy(GlobalLock(block.get()), source.data(), source.size());
            GlobalUnlock(block.get());
        }
    });
    sources.clear();

    // Subscribers: the pass with the data-with-time sink alone, and without sinks, where it
    // only refreshes the items from the mirror.
    Unadvise(load, dataFormat);
    const double oneSink = OnePass();
    Unadvise(load, dataTimeFormat);
    const double refreshOnly = OnePass();

    const double items = double(kServers) * kGroupsPerServer * kTags;
    std::printf("in process: %d servers x %d groups x %d active items, both data sinks\n", kServers,
                kGroupsPerServer, kTags);
    std::printf("poll cycle of the mirror alone        %10.1f ms\n", pollOnly * 1e3);
    std::printf("update pass of all servers alone      %10.1f ms\n", updateOnly * 1e3);
    std::printf("poll cycle with its update pass       %10.1f ms  (%llu streams, %llu values)\n",
                cycle * 1e3, callbacksPerCycle, valuesPerCycle);
    std::printf(
        "  no tag changing: ratio to the shortest timer (55 ms) %.2f, to a plain copy %.2f "
        "(from sources apart %.2f)\n",
        cycle * 1e3 / kShortestTimerMs, cycle / copyOfCycle, cycle / copyOfCycleApart);
    std::printf("the same, 1 tag in %d changing a cycle %8.1f ms\n", kChangingEvery,
                changingCycle * 1e3);
    std::printf(
        "  %d%% changing: ratio to the shortest timer (55 ms) %.2f, to a plain copy %.2f "
        "(from sources apart %.2f)\n",
        100 / kChangingEvery, changingCycle * 1e3 / kShortestTimerMs, changingCycle / copyOfCycle,
        changingCycle / copyOfCycleApart);
    std::printf("  with the support trace on            %8.1f ms  (x%.3f of the trace off)\n",
                tracedCycle * 1e3, tracedCycle / changingCycle);
    std::printf("plain copy of the cycle's stream bytes %9.1f ms  (%zu streams, %.1f MB)\n",
                copyOfCycle * 1e3, 2 * groups, double(groups) * (bytes + dataBytes) / 1e6);
    std::printf("  the same from a source apart each    %9.1f ms\n", copyOfCycleApart * 1e3);
    std::printf(
        "update pass by subscribers: none %.1f ms (%.1f ns/item), data-time sink %.1f ms, "
        "both sinks %.1f ms (x%.2f of none)\n",
        refreshOnly * 1e3, refreshOnly * 1e9 / items, oneSink * 1e3, updateOnly * 1e3,
        updateOnly / refreshOnly);
    std::printf("one data-with-time stream, %d items, %zu bytes:\n", kTags, bytes);
    std::printf("  items read and stream built         %10.2f ms  %7.1f MB/s\n", readAndBuild * 1e3,
                bytes / readAndBuild / 1e6);
    std::printf("  stream built from the read items    %10.2f ms  %7.1f MB/s\n", build * 1e3,
                bytes / build / 1e6);
    std::printf("  plain copy into a new block         %10.2f ms  %7.1f MB/s\n", copy * 1e3,
                bytes / copy / 1e6);
    std::printf("  ratio read+build / copy             %10.1f\n", readAndBuild / copy);
    std::printf("  ratio build / copy                  %10.1f\n", build / copy);

    load.groups.clear();
    load.servers.clear();
    PrintPassByItems(&sink, formats);
    PrintQueuePushByBacklog();
    return 0;
}

// One group of `items` items subscribed both ways while `changing` of its tags change: values
// per period and the time from the poll cycle to the client, for each way.
bool MeasureBothWays(IOPCServer* server, int items, int changing)
{
    CountingSink streams;
    streams.stampedFormat = Format("OPCSTMFORMATDATATIME");
    CountingCallback callback;
    ComPtr<IOPCItemMgt> group = AddGroupOfItems(
        server, L"both " + std::to_wstring(items) + L" " + std::to_wstring(changing), items,
        L"TAG%d");
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (!group || !Advise(group.Get(), &streams, {streams.stampedFormat}) ||
        FAILED(group.As(&container)) ||
        FAILED(container->FindConnectionPoint(IID_IOPCDataCallback, &point)) ||
        FAILED(point->Advise(&callback, &cookie))) {
        std::fprintf(stderr, "cannot subscribe %d items both ways\n", items);
        return false;
    }
    bool complete = false;
    {
        const TagChanger changer(changing);
        // The first call of each way brings every item (a new subscriber): it is left out.
        complete = WaitUntil(
            [&] {
                return callback.calls.size() > kPassesAcross &&
                       streams.latenciesMs.size() > kPassesAcross;
            },
            30000);
    }
    point->Unadvise(cookie);
    ComPtr<IOPCGroupStateMgt> state;
    group.As(&state);
    OPCHANDLE handle = 0;
    state->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &handle);
    group.Reset();
    state.Reset();
    container.Reset();
    point.Reset();
    server->RemoveGroup(handle, TRUE);
    CoDisconnectObject(&streams, 0);
    CoDisconnectObject(&callback, 0);
    if (!complete) {
        std::fprintf(stderr, "%d items: the calls did not come\n", items);
        return false;
    }
    std::vector<double> callbackValues, callbackLatency, streamLatency;
    for (size_t i = 1; i < callback.calls.size(); ++i) {
        callbackValues.push_back(callback.calls[i].values);
        callbackLatency.push_back(callback.calls[i].latencyMs);
    }
    streamLatency.assign(streams.latenciesMs.begin() + 1, streams.latenciesMs.end());
    const double streamValues = double(streams.values) / double(streams.callbacks);
    std::printf(
        "  %5d items, %5d changing: DA 2.0 %7.0f values a period, %7.1f ms after the cycle | "
        "DA 1.0 %7.0f values a period, %7.1f ms after | ratio %5.2f values, %5.2f time\n",
        items, changing, Median(callbackValues), Median(callbackLatency), streamValues,
        Median(streamLatency), Median(callbackValues) / streamValues,
        Median(callbackLatency) / Median(streamLatency));
    return true;
}

int AcrossProcesses()
{
    ServedProject project(kTags);
    if (!project.Failure().empty()) {
        std::printf("across processes: not measured: %s\n", project.Failure().c_str());
        return 0;
    }
    ComPtr<IOPCServer> server;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server)))) {
        std::fprintf(stderr, "cannot create the server object\n");
        return 1;
    }
    std::printf(
        "across processes: registered OPCServer.exe, poll period and update rate "
        "1000 ms, both data sinks in this process\n");
    for (int items : {100, 1000, 10000}) {
        CountingSink sink;
        ComPtr<IOPCItemMgt> group =
            AddGroupOfItems(server.Get(), L"bench " + std::to_wstring(items), items, L"TAG%d");
        if (!group || !Advise(group.Get(), &sink,
                              {Format("OPCSTMFORMATDATATIME"), Format("OPCSTMFORMATDATA")})) {
            std::fprintf(stderr, "cannot subscribe %d items\n", items);
            return 1;
        }
        const bool complete = WaitUntil([&] { return sink.callbacks >= 2 * kPassesAcross; }, 20000);
        ComPtr<IOPCGroupStateMgt> state;
        group.As(&state);
        OPCHANDLE handle = 0;
        state->GetState(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &handle);
        group.Reset();
        state.Reset();
        server->RemoveGroup(handle, TRUE);
        CoDisconnectObject(&sink, 0);
        if (!complete) {
            std::fprintf(stderr, "%d items: the streams did not come\n", items);
            return 1;
        }
        // Streams come in pairs, with time then without: the gap inside a pair is the time one
        // stream of these items takes from the server's building to this client's hands.
        double inPair = 1e9;
        for (size_t i = 0; i + 1 < sink.arrivals.size(); i += 2) {
            inPair = std::min(inPair, Seconds(sink.arrivals[i], sink.arrivals[i + 1]));
        }
        // From the first pair to the last: one period's values in each format per pair.
        const size_t pairs = sink.arrivals.size() / 2;
        const double window = Seconds(sink.arrivals.front(), sink.arrivals[2 * (pairs - 1)]);
        std::printf(
            "  %5d items: %8.0f values/s delivered in both formats; one stream "
            "%6.2f ms = capacity %9.0f values/s\n",
            items, 2.0 * items * double(pairs - 1) / window, inPair * 1e3, items / inPair);
    }
    std::printf(
        "DA 2.0 connection point (only changed items) next to a DA 1.0 data-with-time sink on the "
        "same group, median of %d periods of 1000 ms:\n",
        kPassesAcross);
    for (const auto& load : {std::pair<int, int>{1000, 1000}, {10000, 10000}, {10000, 100}}) {
        if (!MeasureBothWays(server.Get(), load.first, load.second)) return 1;
    }
    return 0;
}

}  // namespace

int main()
{
    StartComServer();
    const int result = InProcess();
    StopComServer();
    if (result != 0 || FAILED(CoInitialize(nullptr))) return 1;
    const int across = AcrossProcesses();
    CoUninitialize();
    return across;
}
