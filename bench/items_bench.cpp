// Items: AddItems, RemoveItems and CloneGroup of 10000 items against a 10000-tag mirror, with
// AddItems split into its tag lookups, the items made (ValidateItems makes them and drops them)
// and their places in the table; synchronous Reads of 1 to 10000 items in-process. Across
// processes, against the registered server: a trivial call (GetStatus) and Reads of 1, 100 and
// 1000 items, split into the call itself, our code (the same Read in-process) and the
// marshalling of the values; IOPCItemIO::Read of the same 1000 tags by item ID against the sync
// Read of the group's items; and beside them, what a single-threaded apartment adds to every
// call it takes: a message to the apartment's thread and an event back. Last, the bounds of a
// call (bench/call_bounds.h). First of all, the memory a group costs with 0 to 10000 items.
#include <windows.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/best_of.h"
#include "bench/call_bounds.h"
#include "bench/served_project.h"
#include "bench/server_figures.h"
#include "opc/group/group_object.h"
#include "opc/server/class_factory.h"
#include "opc/server/com_server_lifetime.h"
#include "opc/values/tag_lookup.h"
#include "opc_da.h"
#include "server_identity.h"
#include "tests/opc/values/linear_tag_scan.h"
#include "tests/opc/values/test_mirror.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kTags = 10000;
constexpr int kRounds = 15;
// Items per Read, in-process and across processes.
constexpr DWORD kReadSizes[] = {1, 100, 1000};
constexpr int kReadSizeCount = sizeof kReadSizes / sizeof kReadSizes[0];
constexpr int kRemoteBatches = 8;
constexpr double kRemoteBatchSeconds = 0.25;
constexpr int kApartmentHops = 2000;
// Items per group of the memory figures, and groups made of each size, in server objects of
// ten groups each (the heap grows in steps of pages, which blur a single small group; the eight
// server objects stay within the nine served).
constexpr int kGroupSizes[] = {0, 10, 1000, 10000};
constexpr int kGroupsMeasured = 20;
constexpr int kGroupsPerServer = 10;

std::wstring TagName(int i)
{
    wchar_t name[16];
    std::swprintf(name, 16, L"TAG%d", i);
    return name;
}

// A group of `server` with its item management and sync I/O.
struct BenchGroup {
    ComPtr<IOPCItemMgt> items;
    ComPtr<IOPCSyncIO> io;
};

bool AddGroup(IOPCServer* server, const wchar_t* name, BenchGroup& group)
{
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    return SUCCEEDED(server->AddGroup(name, TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                                      IID_IOPCItemMgt,
                                      reinterpret_cast<IUnknown**>(group.items.GetAddressOf()))) &&
           SUCCEEDED(group.items.As(&group.io));
}

std::vector<OPCITEMDEF> Definitions(std::vector<std::wstring>& itemIds)
{
    std::vector<OPCITEMDEF> definitions(itemIds.size(), OPCITEMDEF{});
    for (size_t i = 0; i < itemIds.size(); ++i) {
        definitions[i].szItemID = itemIds[i].data();
        definitions[i].bActive = TRUE;
    }
    return definitions;
}

// Adds (or only validates) every definition; false unless each was accepted.
bool AddAll(IOPCItemMgt* items, std::vector<OPCITEMDEF>& definitions, bool validateOnly = false)
{
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const DWORD count = static_cast<DWORD>(definitions.size());
    const HRESULT hr =
        validateOnly ? items->ValidateItems(count, definitions.data(), FALSE, &results, &errors)
                     : items->AddItems(count, definitions.data(), &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return hr == S_OK;
}

bool RemoveAll(IOPCItemMgt* items, std::vector<OPCHANDLE>& handles)
{
    HRESULT* errors = nullptr;
    const HRESULT hr =
        items->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(), &errors);
    CoTaskMemFree(errors);
    return hr == S_OK;
}

// One synchronous read of the first `count` handles; the values are freed again.
bool ReadAll(IOPCSyncIO* io, std::vector<OPCHANDLE>& handles, DWORD count)
{
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = io->Read(OPC_DS_CACHE, count, handles.data(), &states, &errors);
    if (FAILED(hr)) return false;
    bool good = true;
    for (DWORD i = 0; i < count; ++i) {
        good = good && errors[i] == S_OK;
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return good;
}

// One IOPCItemIO::Read of the item IDs, each with `maxAge`; the values are freed again.
bool ReadItemIds(IOPCItemIO* io, std::vector<LPCWSTR>& itemIds, DWORD maxAge)
{
    const DWORD count = static_cast<DWORD>(itemIds.size());
    std::vector<DWORD> maxAges(count, maxAge);
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* times = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        io->Read(count, itemIds.data(), maxAges.data(), &values, &qualities, &times, &errors);
    for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(qualities);
    CoTaskMemFree(times);
    CoTaskMemFree(errors);
    return hr == S_OK;
}

std::vector<OPCHANDLE> Handles(DWORD count)
{
    std::vector<OPCHANDLE> handles(count);
    for (DWORD i = 0; i < count; ++i) handles[i] = i;
    return handles;
}

// Seconds of one CloneGroup of the bench group (the clone removed again outside the timing).
double TimedClone(IOPCServer* server, IOPCItemMgt* items, bool& good)
{
    ComPtr<IOPCGroupStateMgt> state;
    ComPtr<IUnknown> clone;
    good = good && SUCCEEDED(items->QueryInterface(IID_PPV_ARGS(&state)));
    if (!good) return 0;
    LARGE_INTEGER start, stop;
    QueryPerformanceCounter(&start);
    good = SUCCEEDED(state->CloneGroup(L"clone", IID_IUnknown, clone.GetAddressOf()));
    QueryPerformanceCounter(&stop);
    if (!good) return 0;
    // The group's IUnknown is the group object itself.
    const OPCHANDLE handle = static_cast<GroupObject*>(clone.Get())->state.serverHandle;
    clone.Reset();
    good = SUCCEEDED(server->RemoveGroup(handle, FALSE));
    return Seconds(start, stop);
}

// Seconds per call of a Read of `count` items in-process.
double InProcessRead(IOPCSyncIO* io, std::vector<OPCHANDLE>& handles, DWORD count, bool& good)
{
    const int calls = static_cast<int>(std::max<DWORD>(1, kTags / count));
    return BestOf(kRounds,
                  [&] {
                      for (int call = 0; call < calls; ++call)
                          good = good && ReadAll(io, handles, count);
                  }) /
           calls;
}

SIZE_T OwnPrivateBytes()
{
    ServerFigures figures;
    return ReadFigures(GetCurrentProcess(), figures) ? figures.privateBytes : 0;
}

// Committed private bytes per group of kGroupsMeasured groups of `size` items each, made in
// new server objects that stay (in `kept`) while the other sizes are measured, so that no size
// is measured in memory another one gave back; -1 when a call failed.
double BytesPerGroup(IClassFactory* factory, std::vector<OPCITEMDEF>& definitions, int size,
                     std::vector<ComPtr<IOPCServer>>& kept)
{
    std::vector<OPCITEMDEF> items(definitions.begin(), definitions.begin() + size);
    const SIZE_T before = OwnPrivateBytes();
    for (int i = 0; i < kGroupsMeasured; ++i) {
        if (i % kGroupsPerServer == 0) {
            kept.emplace_back();
            if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&kept.back())))) return -1;
        }
        // The server object holds the group; only its item management is released here.
        BenchGroup group;
        const std::wstring name = L"memory" + std::to_wstring(i);
        if (!AddGroup(kept.back().Get(), name.c_str(), group) ||
            (size > 0 && !AddAll(group.items.Get(), items))) {
            return -1;
        }
    }
    const SIZE_T after = OwnPrivateBytes();
    return (static_cast<double>(after) - static_cast<double>(before)) / kGroupsMeasured;
}

// What one group costs the process with each of kGroupSizes items, items included.
int GroupMemory(IClassFactory* factory, std::vector<OPCITEMDEF>& definitions)
{
    std::printf("memory of one group (committed private bytes, mean of %d groups)\n",
                kGroupsMeasured);
    double bytes[sizeof kGroupSizes / sizeof kGroupSizes[0]];
    std::vector<ComPtr<IOPCServer>> kept;
    int row = 0;
    for (int size : kGroupSizes) {
        bytes[row] = BytesPerGroup(factory, definitions, size, kept);
        if (bytes[row] < 0) {
            std::fprintf(stderr, "cannot make the groups of %d items\n", size);
            return 1;
        }
        ++row;
    }
    row = 0;
    for (int size : kGroupSizes) {
        const double perItem = size ? (bytes[row] - bytes[0]) / size : 0;
        std::printf(
            "  with %5d items %12.0f bytes, %7.1f bytes per item beyond an empty group, "
            "ratio to the empty group %.1f\n",
            size, bytes[row], perItem, bytes[0] > 0 ? bytes[row] / bytes[0] : 0);
        ++row;
    }
    return 0;
}

// Sets the in-process seconds of one Read of each of kReadSizes, for the comparison across
// processes.
int InProcess(double (&readSeconds)[kReadSizeCount])
{
    std::vector<std::wstring> names;
    std::vector<std::wstring> itemIds;
    for (int i = 0; i < kTags; ++i) {
        names.push_back(TagName(i));
        // Every tag once, in an order unlike the mirror's, as a client's item list might be.
        itemIds.push_back(L"Device." + TagName((i * 7919) % kTags));
    }
    const TestMirror mirror(names);
    std::vector<OPCITEMDEF> definitions = Definitions(itemIds);

    ComPtr<IClassFactory> factory(new ServerClassFactory);
    if (GroupMemory(factory.Get(), definitions) != 0) return 1;
    ComPtr<IOPCServer> server;
    BenchGroup group;
    if (FAILED(factory->CreateInstance(nullptr, IID_PPV_ARGS(&server))) ||
        !AddGroup(server.Get(), L"bench", group)) {
        std::fprintf(stderr, "cannot make a server object and group\n");
        return 1;
    }
    std::vector<OPCHANDLE> handles = Handles(kTags);
    bool good = true;
    double addItems = 1e9;
    double removeItems = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        LARGE_INTEGER start, added, removed;
        QueryPerformanceCounter(&start);
        good = good && AddAll(group.items.Get(), definitions);
        QueryPerformanceCounter(&added);
        good = good && RemoveAll(group.items.Get(), handles);
        QueryPerformanceCounter(&removed);
        addItems = std::min(addItems, Seconds(start, added));
        removeItems = std::min(removeItems, Seconds(added, removed));
    }
    const double validated =
        BestOf(kRounds, [&] { good = good && AddAll(group.items.Get(), definitions, true); });
    good = good && AddAll(group.items.Get(), definitions);
    double clone = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        clone = std::min(clone, TimedClone(server.Get(), group.items.Get(), good));
    }
    long long checksum[2] = {0, 0};
    const double indexed = BestOf(kRounds, [&] {
        for (const std::wstring& id : itemIds) checksum[0] += FindTagOfItemId(id.c_str());
    });
    const double scanned = BestOf(kRounds, [&] {
        for (const std::wstring& id : itemIds) checksum[1] += LinearTagScan(id.c_str());
    });
    for (int size = 0; size < kReadSizeCount; ++size) {
        readSeconds[size] = InProcessRead(group.io.Get(), handles, kReadSizes[size], good);
    }
    const double readAll = InProcessRead(group.io.Get(), handles, kTags, good);
    if (!good || checksum[0] != checksum[1]) {
        std::fprintf(stderr, "an item call failed, or index and scan disagree\n");
        return 1;
    }

    const auto perItem = [](const char* what, double seconds) {
        std::printf("%-38s %8.2f ms %8.3f us per item\n", what, seconds * 1e3,
                    seconds * 1e6 / kTags);
    };
    std::printf("in-process, %d tags in the mirror, %d items (best of %d)\n", kTags, kTags,
                kRounds);
    perItem("AddItems of 10000 items", addItems);
    perItem("  their tag lookups", indexed);
    perItem("  the items made (ValidateItems)", validated);
    perItem("  their places in the item table", addItems - validated);
    std::printf("  ratio to the goal of 1 us per item   %8.2f\n", addItems * 1e6 / kTags);
    std::printf("  AddItems were each lookup a scan     %8.2f ms, ratio %.1f\n",
                (addItems - indexed + scanned) * 1e3, (addItems - indexed + scanned) / addItems);
    perItem("RemoveItems of 10000 items", removeItems);
    perItem("CloneGroup of a group of 10000 items", clone);
    std::printf("sync Read (cache) of %5d items       %8.2f ms %8.3f us per item, %.0f values/s\n",
                kTags, readAll * 1e3, readAll * 1e6 / kTags, kTags / readAll);
    return 0;
}

// A thread with a message loop that sets the event each message carries: what a
// single-threaded apartment does with each call another process makes to it.
class ApartmentThread {
public:
    ApartmentThread()
        : m_ready(CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_thread([this] { Loop(); })
    {
        WaitForSingleObject(m_ready, INFINITE);
    }
    ~ApartmentThread()
    {
        PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
        CloseHandle(m_ready);
    }
    ApartmentThread(const ApartmentThread&) = delete;
    ApartmentThread& operator=(const ApartmentThread&) = delete;

    // One call handed over the way COM hands a call to the apartment: a new event, a posted
    // message, a wait for the event, the event closed.
    void Hop() const
    {
        HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        PostThreadMessageW(m_threadId, WM_APP, 0, reinterpret_cast<LPARAM>(done));
        WaitForSingleObject(done, INFINITE);
        CloseHandle(done);
    }

private:
    void Loop()
    {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // makes the thread's queue
        m_threadId = GetCurrentThreadId();
        SetEvent(m_ready);
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            if (message.message == WM_APP) SetEvent(reinterpret_cast<HANDLE>(message.lParam));
        }
    }

    HANDLE m_ready;
    DWORD m_threadId = 0;
    std::thread m_thread;
};

// Seconds per call of `call` in the fastest of kRemoteBatches batches of calls, each of
// kRemoteBatchSeconds (the machine is shared: the fastest batch is the least disturbed); 0 when a
// call failed.
template <typename Call>
double SecondsPerCall(Call call)
{
    double best = 1e9;
    for (int batch = 0; batch < kRemoteBatches; ++batch) {
        LARGE_INTEGER start, now;
        QueryPerformanceCounter(&start);
        int calls = 0;
        do {
            if (!call()) return 0;
            ++calls;
            QueryPerformanceCounter(&now);
        } while (Seconds(start, now) < kRemoteBatchSeconds);
        best = std::min(best, Seconds(start, now) / calls);
    }
    return best;
}

int AcrossProcesses(const double (&inProcessRead)[kReadSizeCount])
{
    constexpr DWORD kRemoteItems = kReadSizes[kReadSizeCount - 1];
    const ServedProject project(static_cast<int>(kRemoteItems));
    if (!project.Failure().empty()) {
        std::printf("across processes: not measured: %s\n", project.Failure().c_str());
        return 0;
    }
    ComPtr<IOPCServer> server;
    BenchGroup group;
    std::vector<std::wstring> itemIds;
    for (DWORD i = 0; i < kRemoteItems; ++i) itemIds.push_back(TagName(static_cast<int>(i)));
    std::vector<OPCITEMDEF> definitions = Definitions(itemIds);
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server))) ||
        !AddGroup(server.Get(), L"bench", group) || !AddAll(group.items.Get(), definitions)) {
        std::fprintf(stderr, "the registered server does not serve the project's items\n");
        return 1;
    }
    std::vector<OPCHANDLE> handles = Handles(kRemoteItems);
    const double status = SecondsPerCall([&] {
        OPCSERVERSTATUS* state = nullptr;
        if (FAILED(server->GetStatus(&state))) return false;
        CoTaskMemFree(state->szVendorInfo);
        CoTaskMemFree(state);
        return true;
    });
    double read[kReadSizeCount];
    for (int size = 0; size < kReadSizeCount; ++size) {
        read[size] =
            SecondsPerCall([&] { return ReadAll(group.io.Get(), handles, kReadSizes[size]); });
    }
    ComPtr<IOPCItemIO> itemIo;
    std::vector<LPCWSTR> itemIdTexts;
    for (const std::wstring& id : itemIds) itemIdTexts.push_back(id.c_str());
    const bool hasItemIo = SUCCEEDED(server.As(&itemIo));
    const double readIdsAnyAge =
        hasItemIo
            ? SecondsPerCall([&] { return ReadItemIds(itemIo.Get(), itemIdTexts, 0xFFFFFFFF); })
            : 0;
    const double readIdsNow =
        hasItemIo ? SecondsPerCall([&] { return ReadItemIds(itemIo.Get(), itemIdTexts, 0); }) : 0;
    const ApartmentThread apartment;
    const double hop = BestOf(kRounds,
                              [&] {
                                  for (int i = 0; i < kApartmentHops; ++i) apartment.Hop();
                              }) /
                       kApartmentHops;
    if (status == 0 || std::find(read, read + kReadSizeCount, 0.0) != read + kReadSizeCount ||
        readIdsAnyAge == 0 || readIdsNow == 0) {
        std::fprintf(stderr, "a call across processes failed\n");
        return 1;
    }

    std::printf("across processes, registered OPCServer.exe, fastest of %d batches of %.2f s\n",
                kRemoteBatches, kRemoteBatchSeconds);
    std::printf("GetStatus (a trivial call)            %8.1f us per call, %.0f calls/s\n",
                status * 1e6, 1 / status);
    for (int size = 0; size < kReadSizeCount; ++size) {
        std::printf(
            "sync Read of %4lu items               %8.1f us per call, %.1f calls/s, %.0f "
            "values/s\n",
            static_cast<unsigned long>(kReadSizes[size]), read[size] * 1e6, 1 / read[size],
            kReadSizes[size] / read[size]);
    }
    std::printf("where one Read's time goes (us):  the call  our code  marshalling the values\n");
    for (int size = 0; size < kReadSizeCount; ++size) {
        const double marshalling = read[size] - status - inProcessRead[size];
        std::printf("  %4lu items                     %9.1f %9.1f %9.1f   ratio to the call %.2f\n",
                    static_cast<unsigned long>(kReadSizes[size]), status * 1e6,
                    inProcessRead[size] * 1e6, marshalling * 1e6, read[size] / status);
    }
    const double groupRead = read[kReadSizeCount - 1];
    const auto byItemId = [&](const char* what, double seconds) {
        std::printf(
            "IOPCItemIO::Read of %4lu item IDs, %-9s %8.1f us per call, %.0f values/s, "
            "ratio to the sync Read %.2f\n",
            static_cast<unsigned long>(kRemoteItems), what, seconds * 1e6, kRemoteItems / seconds,
            groupRead / seconds);
    };
    byItemId("any age", readIdsAnyAge);
    byItemId("max age 0", readIdsNow);
    std::printf(
        "an apartment's hand-over (message to its thread, event back), in this process\n"
        "                                   %8.1f us, ratio to the trivial call %.2f\n",
        hop * 1e6, hop / status);
    return 0;
}

}  // namespace

int main()
{
    // The server's own COM start-up (apartment, task allocator, global lock) for the part in
    // this process; ended before the other part, whose class object must be OPCServer.exe's.
    StartComServer();
    double inProcessRead[kReadSizeCount] = {};
    int result = InProcess(inProcessRead);
    StopComServer();
    if (result != 0 || FAILED(CoInitialize(nullptr))) return 1;
    result = AcrossProcesses(inProcessRead);
    if (result == 0) result = MeasureCallBounds();
    CoUninitialize();
    return result;
}
