// Leak probe: churns the registered OPCServer.exe from this process (ValidateItems, AddItems with
// RemoveItems, synchronous reads and writes, item attribute enumerators, server objects,
// AddGroup with RemoveGroup) and prints the server's private
// bytes, working set, handles and threads before, during and after each kind of call, with the
// growth per call. A kind of call that grows the server by a fixed amount each time shows here
// as a steady figure per call; the total growth is the figure to keep below 1 MB.
//
//     leak_probe.exe [ValidateItems calls (100000)] [AddGroup/RemoveGroup pairs (10000)]
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/client_calls.h"
#include "bench/served_project.h"
#include "bench/server_figures.h"
#include "opc_da.h"
#include "server_identity.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kTags = 10;
constexpr int kWarmUpCalls = 2000;

struct Definitions {
    explicit Definitions(int count, const wchar_t* accessPath)
    {
        for (int i = 0; i < count; ++i) itemIds.push_back(L"TAG" + std::to_wstring(i % kTags));
        for (std::wstring& itemId : itemIds) {
            OPCITEMDEF definition{};
            definition.szAccessPath = const_cast<wchar_t*>(accessPath);
            definition.szItemID = itemId.data();
            definition.bActive = TRUE;
            items.push_back(definition);
        }
        // A count of 0 still hands over a valid array: the parameter is a [ref] pointer.
        if (items.empty()) items.push_back(OPCITEMDEF{});
    }
    std::vector<std::wstring> itemIds;
    std::vector<OPCITEMDEF> items;
};

bool Validate(IOPCItemMgt* items, DWORD count, Definitions& definitions)
{
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        items->ValidateItems(count, definitions.items.data(), FALSE, &results, &errors);
    FreeResults(count, results, errors);
    // What the server makes of 0 items is its own business; a failure of the call itself is not.
    if (count == 0)
        return HRESULT_FACILITY(hr) != FACILITY_RPC && HRESULT_FACILITY(hr) != FACILITY_WIN32;
    return SUCCEEDED(hr);
}

bool AddAndRemove(IOPCItemMgt* items, Definitions& definitions)
{
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const DWORD count = static_cast<DWORD>(definitions.items.size());
    HRESULT hr = items->AddItems(count, definitions.items.data(), &results, &errors);
    if (FAILED(hr)) return false;
    std::vector<OPCHANDLE> handles;
    for (DWORD i = 0; i < count; ++i) handles.push_back(results[i].hServer);
    FreeResults(count, results, errors);
    HRESULT* removeErrors = nullptr;
    hr = items->RemoveItems(count, handles.data(), &removeErrors);
    CoTaskMemFree(removeErrors);
    return SUCCEEDED(hr);
}

bool WriteValue(IOPCSyncIO* io, OPCHANDLE item)
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"42");
    HRESULT* errors = nullptr;
    const HRESULT hr = io->Write(1, &item, &value, &errors);
    VariantClear(&value);
    CoTaskMemFree(errors);
    return SUCCEEDED(hr);
}

bool CreateAndReleaseServer()
{
    ComPtr<IOPCServer> server;
    return SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_PPV_ARGS(&server)));
}

bool AddAndRemoveGroup(IOPCServer* server, const wchar_t* name)
{
    OPCHANDLE handle = 0;
    DWORD revised = 0;
    ComPtr<IUnknown> group;
    if (FAILED(server->AddGroup(name, TRUE, 1000, 0, nullptr, nullptr, 0, &handle, &revised,
                                IID_IOPCItemMgt, group.GetAddressOf()))) {
        return false;
    }
    group.Reset();
    return SUCCEEDED(server->RemoveGroup(handle, FALSE));
}

struct Churn {
    const char* what;
    int calls;
    std::function<bool()> call;
};

struct Growth {
    double total = 0;   // from before the first call to after the last
    double steady = 0;  // from the first quarter on: without the server's one-time steps
};

// Runs one kind of call; false when the server stopped answering or ended.
bool Measure(HANDLE serverProcess, const Churn& churn, Growth& growth)
{
    ServerFigures before, quarter, figures;
    if (!ReadFigures(serverProcess, before)) return false;
    quarter = before;
    std::printf("%s x %d\n  before  %s\n", churn.what, churn.calls, Describe(before).c_str());
    const int step = churn.calls / 4 > 0 ? churn.calls / 4 : 1;
    for (int i = 1; i <= churn.calls; ++i) {
        if (!churn.call()) {
            std::printf("  call %d failed: the server no longer answers as it should\n", i);
            return false;
        }
        if (i % step == 0 && i < churn.calls) {
            if (!ReadFigures(serverProcess, figures)) return false;
            if (i == step) quarter = figures;
            std::printf("  %6d  %s\n", i, Describe(figures).c_str());
        }
    }
    if (!ReadFigures(serverProcess, figures)) return false;
    growth.total = double(figures.privateBytes) - double(before.privateBytes);
    growth.steady = double(figures.privateBytes) - double(quarter.privateBytes);
    const int firstSteadyCall = churn.calls > step ? step : 0;
    std::printf(
        "  after   %s\n  growth  %+.0f bytes, %+.1f bytes per call; from call %d on "
        "%+.1f bytes per call\n",
        Describe(figures).c_str(), growth.total, growth.total / churn.calls, firstSteadyCall,
        growth.steady / (churn.calls - firstSteadyCall));
    return true;
}

int Probe(int validateCalls, int groupPairs)
{
    ComPtr<IOPCServer> server;
    ComPtr<IOPCItemMgt> items;
    ComPtr<IOPCSyncIO> io;
    OPCHANDLE group = 0;
    DWORD revised = 0;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server))) ||
        FAILED(server->AddGroup(L"probe", TRUE, 1000, 0, nullptr, nullptr, 0, &group, &revised,
                                IID_IOPCItemMgt,
                                reinterpret_cast<IUnknown**>(items.GetAddressOf()))) ||
        FAILED(items.As(&io))) {
        std::fprintf(stderr, "the registered server does not serve the probe's group\n");
        return 1;
    }
    HANDLE serverProcess = OpenRunningServer();
    if (!serverProcess) {
        std::fprintf(stderr, "no running OPCServer.exe to measure\n");
        return 1;
    }
    Definitions none(0, nullptr), plain(1, nullptr), withPath(1, L"PLC1"), ten(10, L"PLC1");
    Definitions written(1, nullptr);
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    if (FAILED(items->AddItems(1, written.items.data(), &results, &errors))) {
        std::fprintf(stderr, "the server refuses the probe's item\n");
        return 1;
    }
    const OPCHANDLE writtenItem = results[0].hServer;
    FreeResults(1, results, errors);
    if (FAILED(items->AddItems(10, ten.items.data(), &results, &errors))) {
        std::fprintf(stderr, "the server refuses the probe's items\n");
        return 1;
    }
    std::vector<OPCHANDLE> readItems;
    for (DWORD i = 0; i < 10; ++i) readItems.push_back(results[i].hServer);
    FreeResults(10, results, errors);

    const int few = validateCalls / 10 > 0 ? validateCalls / 10 : 1;
    const Churn churns[] = {
        {"ValidateItems, 0 items", few, [&] { return Validate(items.Get(), 0, none); }},
        {"ValidateItems, 1 item without access path", few,
         [&] { return Validate(items.Get(), 1, plain); }},
        {"ValidateItems, 10 items with access path", few,
         [&] { return Validate(items.Get(), 10, ten); }},
        {"ValidateItems, 1 item with access path", validateCalls,
         [&] { return Validate(items.Get(), 1, withPath); }},
        {"AddItems + RemoveItems, 1 item", few,
         [&] { return AddAndRemove(items.Get(), withPath); }},
        {"IOPCSyncIO::Write, 1 BSTR value", few, [&] { return WriteValue(io.Get(), writtenItem); }},
        {"IOPCSyncIO::Read, 10 items", few, [&] { return ReadValues(io.Get(), readItems); }},
        {"item attribute enumerator, Next of 11 items", few,
         [&] { return EnumerateAttributes(items.Get(), kTags + 1); }},
        {"server object made and released", few / 2, [] { return CreateAndReleaseServer(); }},
        {"AddGroup + RemoveGroup, unnamed", groupPairs / 2 > 0 ? groupPairs / 2 : 1,
         [&] { return AddAndRemoveGroup(server.Get(), L""); }},
        {"AddGroup + RemoveGroup, named", groupPairs,
         [&] { return AddAndRemoveGroup(server.Get(), L"churn"); }},
    };
    // The server's first calls grow it once (threads, caches of the RPC runtime); not a leak.
    for (int i = 0; i < kWarmUpCalls; ++i) Validate(items.Get(), 1, plain);
    ServerFigures start, end;
    ReadFigures(serverProcess, start);
    Growth total;
    for (const Churn& churn : churns) {
        Growth growth;
        if (!Measure(serverProcess, churn, growth)) {
            std::printf("the server no longer answers\n");
            CloseHandle(serverProcess);
            return 1;
        }
        total.total += growth.total;
        total.steady += growth.steady;
    }
    const bool answers =
        ReadFigures(serverProcess, end) && SUCCEEDED(server->RemoveGroup(group, FALSE));
    std::printf("total  %+.2f MB private bytes (%s -> %s); goal: below 1 MB\n",
                total.total / 1048576.0, Describe(start).c_str(), Describe(end).c_str());
    std::printf(
        "       %+.2f MB of it after each kind of call's first quarter (a new thread of the "
        "server, about 3 MB of stack, is a one-time step)\n",
        total.steady / 1048576.0);
    std::printf("the server %s\n", answers ? "still answers" : "no longer answers");
    CloseHandle(serverProcess);
    return answers ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const int validateCalls = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int groupPairs = argc > 2 ? std::atoi(argv[2]) : 10000;
    if (validateCalls <= 0 || groupPairs <= 0) {
        std::fprintf(stderr, "usage: leak_probe.exe [ValidateItems calls] [group pairs]\n");
        return 2;
    }
    const ServedProject project(kTags);
    if (!project.Failure().empty()) {
        std::fprintf(stderr, "not measured: %s\n", project.Failure().c_str());
        return 1;
    }
    if (FAILED(CoInitialize(nullptr))) return 1;
    const int result = Probe(validateCalls, groupPairs);
    CoUninitialize();
    return result;
}
