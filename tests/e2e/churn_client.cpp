// A client that churns the registered server the way an ordinary client does all day: one
// server object, and in every cycle a new group with items whose attributes it enumerates, then
// every interface released and the group removed. Each cycle makes the server create and drop
// the stubs of a group's interfaces and of an item attribute enumerator.
//
//   churn_client.exe <cycles> [<stall ms>]
//
// Prints "progress N" every 10 s, "cycles N" and exit code 0 when all cycles ran. When the server has not finished a cycle
// within <stall ms> (default 10000) it prints "stalled after N cycles" and exits 3: its calls
// never return from a hung server, so the waiting is done by this thread, not by them.
#include <windows.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstdlib>

#include "opc_da.h"
#include "server_identity.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kDefaultStallMs = 10000;
constexpr ULONGLONG kProgressMs = 10000;
constexpr int kExitStalled = 3;
constexpr int kExitFailed = 4;

volatile LONG g_cyclesDone = 0;
volatile HRESULT g_failure = S_OK;

// Frees what one OPCITEMATTRIBUTES record holds besides itself.
void FreeAttributes(OPCITEMATTRIBUTES& record)
{
    CoTaskMemFree(record.szItemID);
    CoTaskMemFree(record.szAccessPath);
    CoTaskMemFree(record.pBlob);
    VariantClear(&record.vEUInfo);
}

HRESULT RunCycle(IOPCServer* server)
{
    OPCHANDLE group = 0;
    DWORD revised = 0;
    ComPtr<IOPCItemMgt> items;
    HRESULT hr =
        server->AddGroup(L"churn", TRUE, 1000, 0, nullptr, nullptr, 0, &group, &revised,
                         IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(items.GetAddressOf()));
    if (FAILED(hr)) return hr;
    OPCITEMDEF definitions[2] = {};
    definitions[0].szItemID = const_cast<LPWSTR>(L"Level");
    definitions[1].szItemID = const_cast<LPWSTR>(L"Tagname.Level");
    for (OPCITEMDEF& definition : definitions) {
        definition.szAccessPath = const_cast<LPWSTR>(L"");
        definition.bActive = TRUE;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    hr = items->AddItems(2, definitions, &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    if (SUCCEEDED(hr)) {
        ComPtr<IEnumOPCItemAttributes> attributes;
        hr = items->CreateEnumerator(IID_IEnumOPCItemAttributes,
                                     reinterpret_cast<IUnknown**>(attributes.GetAddressOf()));
        if (hr == S_OK) {
            OPCITEMATTRIBUTES* records = nullptr;
            ULONG fetched = 0;
            hr = attributes->Next(4, &records, &fetched);
            for (ULONG i = 0; records && i < fetched; ++i) FreeAttributes(records[i]);
            CoTaskMemFree(records);
        }
    }
    items.Reset();
    const HRESULT removed = server->RemoveGroup(group, FALSE);
    return FAILED(hr) ? hr : removed;
}

struct ChurnOrder {
    LONG cycles;
};

DWORD WINAPI Churn(void* parameter)
{
    const LONG cycles = static_cast<ChurnOrder*>(parameter)->cycles;
    if (FAILED(CoInitialize(nullptr))) return 1;
    {
        ComPtr<IOPCServer> server;
        HRESULT hr = CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_PPV_ARGS(&server));
        while (SUCCEEDED(hr) && g_cyclesDone < cycles) {
            hr = RunCycle(server.Get());
            if (SUCCEEDED(hr)) InterlockedIncrement(&g_cyclesDone);
        }
        if (FAILED(hr)) g_failure = hr;
    }
    CoUninitialize();
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: churn_client <cycles> [<stall ms>]\n");
        return 2;
    }
    ChurnOrder order{std::atol(argv[1])};
    const DWORD stallMs = argc > 2 ? static_cast<DWORD>(std::atol(argv[2])) : kDefaultStallMs;
    HANDLE worker = CreateThread(nullptr, 0, Churn, &order, 0, nullptr);
    if (!worker) return 2;
    LONG seen = -1;
    ULONGLONG lastProgress = GetTickCount64();
    ULONGLONG lastReport = lastProgress;
    while (WaitForSingleObject(worker, 100) == WAIT_TIMEOUT) {
        const LONG done = g_cyclesDone;
        if (GetTickCount64() - lastReport >= kProgressMs) {
            lastReport = GetTickCount64();
            std::printf("progress %ld\n", static_cast<long>(done));
            std::fflush(stdout);
        }
        if (done != seen) {
            seen = done;
            lastProgress = GetTickCount64();
        } else if (GetTickCount64() - lastProgress > stallMs) {
            std::printf("stalled after %ld cycles\n", done);
            std::fflush(stdout);
            // The worker waits in a call that never returns; ending the process skips COM's
            // clean-up, which would wait on the server as well.
            TerminateProcess(GetCurrentProcess(), kExitStalled);
        }
    }
    CloseHandle(worker);
    if (FAILED(g_failure)) {
        std::printf("failed with 0x%08lX after %ld cycles\n", static_cast<unsigned long>(g_failure),
                    static_cast<long>(g_cyclesDone));
        return kExitFailed;
    }
    std::printf("cycles %ld\n", static_cast<long>(g_cyclesDone));
    return 0;
}
