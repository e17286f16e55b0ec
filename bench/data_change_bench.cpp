// Data-change delivery. In-process at full load: 9 server objects x 10 groups x 10000 active
// items, both data sinks of every group set to counting sinks; one poll cycle with its update
// pass against the shortest timer period, and stream building against a plain copy of the same
// bytes. Across processes: the registered OPCServer.exe delivering groups of 100, 1000 and
// 10000 items to one subscribed client (this program).
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/best_of.h"
#include "bench/mixed_tag_area.h"
#include "bench/served_project.h"
#include "opc/datachange/group_streams.h"
#include "opc/group/group_object.h"
#include "opc/server/class_factory.h"
#include "opc/server/com_server_lifetime.h"
#include "opc/server/server_table.h"
#include "opc/values/tag_lookup.h"
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
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM* medium) override
    {
        ++callbacks;
        const auto* bytes = static_cast<const BYTE*>(GlobalLock(medium->hGlobal));
        DWORD items = 0;
        std::memcpy(&items, bytes + 4, sizeof items);
        values += items;
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

private:
    ULONG m_refs = 0;
};

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

int InProcess()
{
    MixedTagArea area;
    if (!area.Ready()) {
        std::fprintf(stderr, "cannot create the shared tag area\n");
        return 1;
    }

    CountingSink sink;
    const std::vector<CLIPFORMAT> formats = {Format("OPCSTMFORMATDATA"),
                                             Format("OPCSTMFORMATDATATIME")};
    ComPtr<IClassFactory> factory(new ServerClassFactory);
    std::vector<ComPtr<IOPCServer>> servers;
    std::vector<ComPtr<IOPCItemMgt>> groups;
    for (int s = 0; s < kServers; ++s) {
        ComPtr<IOPCServer> server;
        if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&server)))) return 1;
        for (int g = 0; g < kGroupsPerServer; ++g) {
            ComPtr<IOPCItemMgt> group =
                AddGroupOfItems(server.Get(), L"G" + std::to_wstring(g), kTags, L"TAG%05d");
            if (!group || !Advise(group.Get(), &sink, formats)) {
                std::fprintf(stderr, "cannot set up group %d of server %d\n", g, s);
                return 1;
            }
            groups.push_back(group);
        }
        servers.push_back(server);
    }

    // Every pass expires (rate 1000, period 1000): the full work of each group.
    SetAfterPollCycle(nullptr);
    const double pollOnly = BestOf(kRounds, RunPollCycle);
    const double updateOnly = BestOf(kRounds, [] { UpdateAllServers(1000); });
    SetAfterPollCycle(UpdateAllServersIfInUse);
    sink.callbacks = sink.values = 0;
    const double cycle = BestOf(kRounds, RunPollCycle);
    const unsigned long long callbacksPerCycle = sink.callbacks / kRounds;
    const unsigned long long valuesPerCycle = sink.values / kRounds;
    SetAfterPollCycle(nullptr);
    // Without sinks the pass only refreshes the items from the mirror.
    for (const ComPtr<IOPCItemMgt>& group : groups) {
        ComPtr<IDataObject> data;
        group.As(&data);
        for (CLIPFORMAT format : formats) data->DUnadvise(format);
    }
    const double refreshOnly = BestOf(kRounds, [] { UpdateAllServers(1000); });

    // One group's data-with-time stream of 10000 items: reading the items and building the
    // bytes, the building alone, and a plain copy of as many bytes.
    ComPtr<IUnknown> identity;
    groups[0].As(&identity);
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
    std::vector<BYTE> from(bytes, 0x5A);
    const double copy = BestOf(kRounds * 5, [&] {
        StreamBlock block = AllocateStreamBlock(bytes);
        std::memcpy(GlobalLock(block.get()), from.data(), bytes);
        GlobalUnlock(block.get());
    });

    std::printf("in process: %d servers x %d groups x %d active items, both data sinks\n", kServers,
                kGroupsPerServer, kTags);
    std::printf("poll cycle of the mirror alone        %10.1f ms\n", pollOnly * 1e3);
    std::printf("update pass of all servers alone      %10.1f ms\n", updateOnly * 1e3);
    std::printf("poll cycle with its update pass       %10.1f ms  (%llu streams, %llu values)\n",
                cycle * 1e3, callbacksPerCycle, valuesPerCycle);
    std::printf("ratio to the shortest timer (55 ms)   %10.1f\n", cycle * 1e3 / kShortestTimerMs);
    std::printf("update pass without sinks (refresh)   %10.1f ms  %7.1f ns per item\n",
                refreshOnly * 1e3,
                refreshOnly * 1e9 / (double(kServers) * kGroupsPerServer * kTags));
    std::printf("one data-with-time stream, %d items, %zu bytes:\n", kTags, bytes);
    std::printf("  items read and stream built         %10.2f ms  %7.1f MB/s\n", readAndBuild * 1e3,
                bytes / readAndBuild / 1e6);
    std::printf("  stream built from the read items    %10.2f ms  %7.1f MB/s\n", build * 1e3,
                bytes / build / 1e6);
    std::printf("  plain copy into a new block         %10.2f ms  %7.1f MB/s\n", copy * 1e3,
                bytes / copy / 1e6);
    std::printf("  ratio read+build / copy             %10.1f\n", readAndBuild / copy);
    std::printf("  ratio build / copy                  %10.1f\n", build / copy);

    groups.clear();
    servers.clear();
    return 0;
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
