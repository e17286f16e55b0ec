// Items: AddItems of 10000 items against a 10000-tag mirror (their tag lookups through the tag
// name index beside the same lookups by scanning the mirror), a synchronous Read of 10000 items
// in-process, and a synchronous Read of 1000 items of the registered server across processes.
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/best_of.h"
#include "bench/served_project.h"
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
constexpr int kRounds = 5;
constexpr DWORD kRemoteItems = 1000;
constexpr double kRemoteSeconds = 2.0;

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

// Adds every definition; false unless each was accepted.
bool AddAll(IOPCItemMgt* items, std::vector<OPCITEMDEF>& definitions)
{
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = items->AddItems(static_cast<DWORD>(definitions.size()), definitions.data(),
                                       &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return hr == S_OK;
}

// One synchronous read of every handle; the values are freed again.
bool ReadAll(IOPCSyncIO* io, std::vector<OPCHANDLE>& handles)
{
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = io->Read(OPC_DS_CACHE, static_cast<DWORD>(handles.size()), handles.data(),
                                &states, &errors);
    if (FAILED(hr)) return false;
    bool good = true;
    for (size_t i = 0; i < handles.size(); ++i) {
        good = good && errors[i] == S_OK;
        VariantClear(&states[i].vDataValue);
    }
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return good;
}

std::vector<OPCHANDLE> Handles(DWORD count)
{
    std::vector<OPCHANDLE> handles(count);
    for (DWORD i = 0; i < count; ++i) handles[i] = i;
    return handles;
}

// Sets the in-process cost of reading one value, for the comparison across processes.
int InProcess(double& secondsPerValue)
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
    for (int round = 0; round < kRounds; ++round) {
        LARGE_INTEGER start, stop;
        QueryPerformanceCounter(&start);
        good = good && AddAll(group.items.Get(), definitions);
        QueryPerformanceCounter(&stop);
        addItems = std::min(addItems, Seconds(start, stop));
        HRESULT* errors = nullptr;
        if (round + 1 < kRounds) {
            good = good && group.items->RemoveItems(kTags, handles.data(), &errors) == S_OK;
            CoTaskMemFree(errors);
        }
    }
    long long checksum[2] = {0, 0};
    const double indexed = BestOf(kRounds, [&] {
        for (const std::wstring& id : itemIds) checksum[0] += FindTagOfItemId(id.c_str());
    });
    const double scanned = BestOf(kRounds, [&] {
        for (const std::wstring& id : itemIds) checksum[1] += LinearTagScan(id.c_str());
    });
    const double read = BestOf(kRounds, [&] { good = good && ReadAll(group.io.Get(), handles); });
    if (!good || checksum[0] != checksum[1]) {
        std::fprintf(stderr, "an item was refused, or index and scan disagree\n");
        return 1;
    }

    secondsPerValue = read / kTags;
    // AddItems as it would cost with each lookup a scan of the mirror instead of the index.
    const double addItemsScanning = addItems - indexed + scanned;
    std::printf("in-process, %d tags in the mirror, %d items (best of %d)\n", kTags, kTags,
                kRounds);
    std::printf("AddItems of %d items              %10.1f ms  %8.2f us per item\n", kTags,
                addItems * 1e3, addItems * 1e6 / kTags);
    std::printf("  their lookups with the index      %10.1f ms\n", indexed * 1e3);
    std::printf("  the same lookups by scanning      %10.1f ms\n", scanned * 1e3);
    std::printf("AddItems were each lookup a scan    %10.1f ms\n", addItemsScanning * 1e3);
    std::printf("ratio scanning / indexed AddItems   %10.1f\n", addItemsScanning / addItems);
    std::printf("sync Read of %d items (cache)     %10.1f ms  %8.2f us per item, %.0f values/s\n",
                kTags, read * 1e3, read * 1e6 / kTags, kTags / read);
    return 0;
}

int AcrossProcesses(double inProcessSecondsPerValue)
{
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
    LARGE_INTEGER start, now;
    QueryPerformanceCounter(&start);
    int calls = 0;
    bool good = true;
    do {
        good = good && ReadAll(group.io.Get(), handles);
        ++calls;
        QueryPerformanceCounter(&now);
    } while (Seconds(start, now) < kRemoteSeconds);
    if (!good) {
        std::fprintf(stderr, "a read across processes failed\n");
        return 1;
    }
    const double elapsed = Seconds(start, now);
    std::printf(
        "across processes, registered OPCServer.exe, %lu items per Read (%d calls in "
        "%.1f s)\n",
        static_cast<unsigned long>(kRemoteItems), calls, elapsed);
    std::printf(
        "sync Read of %lu items               %10.2f ms per call, %.1f calls/s, %.0f "
        "values/s\n",
        static_cast<unsigned long>(kRemoteItems), elapsed * 1e3 / calls, calls / elapsed,
        calls * double(kRemoteItems) / elapsed);
    std::printf("ratio per value, across / in-process %9.0f\n",
                elapsed / (calls * double(kRemoteItems)) / inProcessSecondsPerValue);
    return 0;
}

}  // namespace

int main()
{
    // The server's own COM start-up (apartment, task allocator, global lock) for the part in
    // this process; ended before the other part, whose class object must be OPCServer.exe's.
    StartComServer();
    double secondsPerValue = 0;
    int result = InProcess(secondsPerValue);
    StopComServer();
    if (result != 0 || FAILED(CoInitialize(nullptr))) return 1;
    result = AcrossProcesses(secondsPerValue);
    CoUninitialize();
    return result;
}
