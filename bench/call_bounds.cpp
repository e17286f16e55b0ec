#include "bench/call_bounds.h"

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/best_of.h"
#include "bench/served_project.h"
#include "bench/server_figures.h"
#include "opc/values/call_limits.h"
#include "opc_da.h"
#include "server_identity.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr int kTags = 10000;
constexpr int kRounds = 3;
// A server that grows past this during a giant call would go on until the machine runs out:
// the watch ends it there (only a server without the caps gets so far).
constexpr SIZE_T kGrowthToEndAt = SIZE_T{1} << 30;

double Megabytes(long long bytes) { return static_cast<double>(bytes) / 1048576.0; }

double Now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// What one call cost the server, seen from outside while it ran.
struct CallCost {
    HRESULT result = E_FAIL;
    double seconds = 0;
    double longestStatusWait = 0;  // another client's GetStatus, seconds
    long long peakGrowth = 0;      // bytes of private memory above the level before the call
    long long growthAfter = 0;     // the same once the call has returned and the server settled
    bool serverEnded = false;      // the watch ended it past kGrowthToEndAt
};

// Another client of the server on a thread of its own calling GetStatus over and over, and the
// server's private memory read as often: the two figures one client's call must not spoil.
class ServerWatch {
public:
    ServerWatch() : m_statusThread([this] { CallStatus(); }), m_memoryThread([this] { Sample(); })
    {
        while (!m_statusReady) Sleep(10);
    }
    ~ServerWatch()
    {
        m_stop = true;
        m_statusThread.join();
        m_memoryThread.join();
    }
    ServerWatch(const ServerWatch&) = delete;
    ServerWatch& operator=(const ServerWatch&) = delete;

    bool Answering() const { return m_statusAnswering; }

    CallCost Measure(const std::function<HRESULT()>& call)
    {
        CallCost cost;
        const SIZE_T before = PrivateBytes();
        m_before = before;
        m_peak = before;
        m_longestWait = 0;
        m_watching = true;
        const double start = Now();
        cost.result = call();
        cost.seconds = Now() - start;
        // A GetStatus that waited through the whole call returns just after it.
        Sleep(50);
        m_watching = false;
        cost.longestStatusWait = m_longestWait;
        cost.peakGrowth = static_cast<long long>(m_peak) - static_cast<long long>(before);
        cost.serverEnded = m_ended;
        Sleep(250);
        cost.growthAfter = static_cast<long long>(PrivateBytes()) - static_cast<long long>(before);
        return cost;
    }

private:
    static SIZE_T PrivateBytes()
    {
        HANDLE server = OpenRunningServer();
        ServerFigures figures;
        const bool read = server && ReadFigures(server, figures);
        if (server) CloseHandle(server);
        return read ? figures.privateBytes : 0;
    }

    void CallStatus()
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComPtr<IOPCServer> server;
            m_statusAnswering = SUCCEEDED(CoCreateInstance(
                CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
            m_statusReady = true;
            while (m_statusAnswering && !m_stop) {
                const double start = Now();
                OPCSERVERSTATUS* status = nullptr;
                if (FAILED(server->GetStatus(&status))) {
                    m_statusAnswering = false;
                    break;
                }
                CoTaskMemFree(status->szVendorInfo);
                CoTaskMemFree(status);
                const double waited = Now() - start;
                if (m_watching && waited > m_longestWait) m_longestWait = waited;
                Sleep(1);
            }
        }
        CoUninitialize();
    }

    void Sample()
    {
        HANDLE server = nullptr;
        while (!m_stop) {
            if (!server) server = OpenRunningServer();
            ServerFigures figures;
            if (server && m_watching && ReadFigures(server, figures)) {
                if (figures.privateBytes > m_peak) m_peak = figures.privateBytes;
                if (figures.privateBytes > m_before + kGrowthToEndAt) EndServer(server);
            }
            Sleep(5);
        }
        if (server) CloseHandle(server);
    }

    void EndServer(HANDLE server)
    {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, GetProcessId(server));
        if (process) {
            TerminateProcess(process, 1);
            CloseHandle(process);
        }
        m_ended = true;
    }

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_statusReady{false};
    std::atomic<bool> m_statusAnswering{false};
    std::atomic<bool> m_watching{false};
    std::atomic<bool> m_ended{false};
    std::atomic<double> m_longestWait{0};
    std::atomic<SIZE_T> m_before{0};
    std::atomic<SIZE_T> m_peak{0};
    std::thread m_statusThread;
    std::thread m_memoryThread;
};

void FreePropertyLists(OPCITEMPROPERTIES* lists, DWORD count)
{
    for (DWORD i = 0; lists && i < count; ++i) {
        for (DWORD p = 0; lists[i].pItemProperties && p < lists[i].dwNumProperties; ++p) {
            CoTaskMemFree(lists[i].pItemProperties[p].szItemID);
            CoTaskMemFree(lists[i].pItemProperties[p].szDescription);
            VariantClear(&lists[i].pItemProperties[p].vValue);
        }
        CoTaskMemFree(lists[i].pItemProperties);
    }
    CoTaskMemFree(lists);
}

// The interfaces of one server object and one group of it with every tag as an item.
struct Client {
    ComPtr<IOPCServer> server;
    ComPtr<IOPCBrowse> browse;
    ComPtr<IOPCItemProperties> properties;
    ComPtr<IOPCItemIO> itemIo;
    ComPtr<IOPCBrowseServerAddressSpace> addressSpace;
    ComPtr<IOPCItemMgt> items;
    ComPtr<IOPCSyncIO> syncIo;
    std::vector<std::wstring> tagNames;
    std::vector<LPWSTR> tagIds;
};

bool Connect(Client& client)
{
    for (int i = 0; i < kTags; ++i) client.tagNames.push_back(L"TAG" + std::to_wstring(i));
    for (std::wstring& name : client.tagNames) client.tagIds.push_back(name.data());
    OPCHANDLE group = 0;
    DWORD revised = 0;
    return SUCCEEDED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                      IID_PPV_ARGS(&client.server))) &&
           SUCCEEDED(client.server.As(&client.browse)) &&
           SUCCEEDED(client.server.As(&client.properties)) &&
           SUCCEEDED(client.server.As(&client.itemIo)) &&
           SUCCEEDED(client.server.As(&client.addressSpace)) &&
           SUCCEEDED(client.server->AddGroup(
               L"bounds", TRUE, 1000, 0, nullptr, nullptr, 0, &group, &revised, IID_IOPCItemMgt,
               reinterpret_cast<IUnknown**>(client.items.GetAddressOf()))) &&
           SUCCEEDED(client.items.As(&client.syncIo));
}

// The poll period: item property 6, the server's scan rate.
double PollPeriodSeconds(Client& client)
{
    DWORD scanRate = 6;
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    double seconds = 0;
    if (SUCCEEDED(client.properties->GetItemProperties(client.tagIds[0], 1, &scanRate, &values,
                                                       &errors)) &&
        errors[0] == S_OK && SUCCEEDED(VariantChangeType(&values[0], &values[0], 0, VT_R8))) {
        seconds = values[0].dblVal / 1000;
    }
    if (values) VariantClear(&values[0]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    return seconds;
}

// The property IDs 1 to 6, then IDs no tag has, `count` in all.
std::vector<DWORD> PropertyIds(DWORD count)
{
    std::vector<DWORD> ids(count);
    for (DWORD i = 0; i < count; ++i) ids[i] = i + 1;
    return ids;
}

HRESULT GetProperties(Client& client, DWORD items, std::vector<DWORD> ids, BOOL values)
{
    std::vector<LPWSTR> itemIds(items);
    for (DWORD i = 0; i < items; ++i) itemIds[i] = client.tagIds[i % kTags];
    OPCITEMPROPERTIES* lists = nullptr;
    const HRESULT hr = client.browse->GetProperties(items, itemIds.data(), values,
                                                    static_cast<DWORD>(ids.size()), ids.data(),
                                                    &lists);
    FreePropertyLists(lists, SUCCEEDED(hr) ? items : 0);
    return hr;
}

HRESULT Browse(Client& client, std::wstring filter, std::wstring point, BOOL all, BOOL values)
{
    std::wstring branch = L"Tagname";
    std::wstring vendor;
    LPWSTR continuation = nullptr;
    if (!point.empty()) {
        continuation = static_cast<LPWSTR>(CoTaskMemAlloc((point.size() + 1) * sizeof(wchar_t)));
        if (!continuation) return E_OUTOFMEMORY;
        std::copy(point.c_str(), point.c_str() + point.size() + 1, continuation);
    }
    DWORD none = 0;
    BOOL more = FALSE;
    DWORD count = 0;
    OPCBROWSEELEMENT* elements = nullptr;
    const HRESULT hr = client.browse->Browse(branch.data(), &continuation, 0,
                                             OPC_BROWSE_FILTER_ALL, filter.data(), vendor.data(),
                                             all, values, 0, &none, &more, &count, &elements);
    for (DWORD i = 0; elements && i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
        OPCITEMPROPERTIES& list = elements[i].ItemProperties;
        for (DWORD p = 0; list.pItemProperties && p < list.dwNumProperties; ++p) {
            CoTaskMemFree(list.pItemProperties[p].szDescription);
            VariantClear(&list.pItemProperties[p].vValue);
        }
        CoTaskMemFree(list.pItemProperties);
    }
    CoTaskMemFree(elements);
    CoTaskMemFree(continuation);
    return hr;
}

HRESULT GetItemProperties(Client& client, DWORD count)
{
    std::vector<DWORD> ids = PropertyIds(count);
    VARIANT* values = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        client.properties->GetItemProperties(client.tagIds[0], count, ids.data(), &values, &errors);
    for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(errors);
    return hr;
}

HRESULT LookupItemIds(Client& client, DWORD count)
{
    std::vector<DWORD> ids = PropertyIds(count);
    LPWSTR* itemIds = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        client.properties->LookupItemIDs(client.tagIds[0], count, ids.data(), &itemIds, &errors);
    for (DWORD i = 0; itemIds && i < count; ++i) CoTaskMemFree(itemIds[i]);
    CoTaskMemFree(itemIds);
    CoTaskMemFree(errors);
    return hr;
}

// Item IDs of the longest length taken: a long path before each tag's name.
std::vector<std::wstring> LongItemIds(DWORD count)
{
    std::vector<std::wstring> ids(count);
    for (DWORD i = 0; i < count; ++i) {
        const std::wstring tag = L"TAG" + std::to_wstring(i % kTags);
        ids[i] = std::wstring(kMaxItemIdUnits - tag.size() - 1, L'p') + L"." + tag;
    }
    return ids;
}

HRESULT ItemIoRead(Client& client, DWORD count)
{
    std::vector<std::wstring> texts = LongItemIds(count);
    std::vector<LPCWSTR> ids;
    for (const std::wstring& text : texts) ids.push_back(text.c_str());
    std::vector<DWORD> maxAges(count, 0);
    VARIANT* values = nullptr;
    WORD* qualities = nullptr;
    FILETIME* times = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        client.itemIo->Read(count, ids.data(), maxAges.data(), &values, &qualities, &times, &errors);
    for (DWORD i = 0; values && i < count; ++i) VariantClear(&values[i]);
    CoTaskMemFree(values);
    CoTaskMemFree(qualities);
    CoTaskMemFree(times);
    CoTaskMemFree(errors);
    return hr;
}

HRESULT ItemIoWrite(Client& client, DWORD count)
{
    std::vector<std::wstring> texts = LongItemIds(count);
    std::vector<LPCWSTR> ids;
    for (const std::wstring& text : texts) ids.push_back(text.c_str());
    std::vector<OPCITEMVQT> vqts(count, OPCITEMVQT{});
    for (OPCITEMVQT& vqt : vqts) {
        vqt.vDataValue.vt = VT_I4;
        vqt.vDataValue.lVal = 7;
    }
    HRESULT* errors = nullptr;
    const HRESULT hr = client.itemIo->WriteVQT(count, ids.data(), vqts.data(), &errors);
    CoTaskMemFree(errors);
    return hr;
}

HRESULT MakeItems(Client& client, DWORD count, bool keep)
{
    std::vector<std::wstring> texts = LongItemIds(count);
    std::vector<OPCITEMDEF> definitions(count, OPCITEMDEF{});
    for (DWORD i = 0; i < count; ++i) {
        definitions[i].szItemID = texts[i].data();
        definitions[i].bActive = TRUE;
    }
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr =
        keep ? client.items->AddItems(count, definitions.data(), &results, &errors)
             : client.items->ValidateItems(count, definitions.data(), FALSE, &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return hr;
}

HRESULT SyncRead(Client& client, DWORD count)
{
    std::vector<OPCHANDLE> handles(count);
    for (DWORD i = 0; i < count; ++i) handles[i] = i % kTags;
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT hr = client.syncIo->Read(OPC_DS_DEVICE, count, handles.data(), &states, &errors);
    for (DWORD i = 0; states && i < count; ++i) VariantClear(&states[i].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return hr;
}

HRESULT BrowseFlat(Client& client)
{
    ComPtr<IEnumString> names;
    return client.addressSpace->BrowseOPCItemIDs(OPC_FLAT, L"", VT_EMPTY, 0,
                                                 names.GetAddressOf());
}

HRESULT GetItemId(Client& client)
{
    std::wstring id = L" " + std::wstring(kMaxItemIdUnits - 2, L'x') + L" ";
    LPWSTR full = nullptr;
    const HRESULT hr = client.addressSpace->GetItemID(id.data(), &full);
    CoTaskMemFree(full);
    return hr;
}

// The filter of the most matching work a filter within its cap can ask: every list as long as
// it can be and stars between them, none of which a tag name matches.
std::wstring CostliestFilter()
{
    std::wstring list = L"[!" + std::wstring(60, L'Q') + L"]";
    std::wstring filter = L"*";
    while (filter.size() + list.size() + 2 <= kMaxNameFilterUnits) filter += list + L"*";
    return filter + L"Z";
}

struct Case {
    const char* what;
    std::function<HRESULT()> call;
};

void Print(const char* what, const CallCost& cost, double pollPeriod)
{
    std::printf("%-58s 0x%08lX %8.1f ms  other client's GetStatus waited %7.1f ms, ratio to "
                "the poll period %.3f\n",
                what, static_cast<unsigned long>(cost.result), cost.seconds * 1e3,
                cost.longestStatusWait * 1e3, cost.longestStatusWait / pollPeriod);
}

}  // namespace

int MeasureCallBounds()
{
    const ServedProject project(kTags);
    if (!project.Failure().empty()) {
        std::printf("call bounds: not measured: %s\n", project.Failure().c_str());
        return 0;
    }
    Client client;
    if (!Connect(client)) {
        std::fprintf(stderr, "the registered server does not serve the project\n");
        return 1;
    }
    const double pollPeriod = PollPeriodSeconds(client);
    ServerWatch watch;
    if (pollPeriod <= 0 || !watch.Answering()) {
        std::fprintf(stderr, "no poll period, or no second client\n");
        return 1;
    }

    const Case worstLegal[] = {
        {"IOPCBrowse::Browse 10000 tags, all properties and values",
         [&] { return Browse(client, L"", L"", TRUE, TRUE); }},
        {"IOPCBrowse::Browse 10000 tags, the costliest filter",
         [&] { return Browse(client, CostliestFilter(), L"", FALSE, FALSE); }},
        {"IOPCBrowse::GetProperties 10000 IDs x 6 properties, values",
         [&] { return GetProperties(client, kTags, PropertyIds(6), TRUE); }},
        {"IOPCItemProperties::GetItemProperties of the most IDs",
         [&] { return GetItemProperties(client, kMaxPropertyIds); }},
        {"IOPCItemProperties::LookupItemIDs of the most IDs",
         [&] { return LookupItemIds(client, kMaxPropertyIds); }},
        {"IOPCItemIO::Read of the most long item IDs, max age 0",
         [&] { return ItemIoRead(client, kMaxListEntries); }},
        {"IOPCItemIO::WriteVQT of the most long item IDs",
         [&] { return ItemIoWrite(client, kMaxListEntries); }},
        {"IOPCBrowseServerAddressSpace::BrowseOPCItemIDs flat",
         [&] { return BrowseFlat(client); }},
        {"IOPCBrowseServerAddressSpace::GetItemID of the longest ID",
         [&] { return GetItemId(client); }},
        {"IOPCItemMgt::ValidateItems of the most long item IDs",
         [&] { return MakeItems(client, kMaxListEntries, false); }},
        {"IOPCItemMgt::AddItems of the most long item IDs",
         [&] { return MakeItems(client, kMaxListEntries, true); }},
        {"IOPCSyncIO::Read (device) of the most handles",
         [&] { return SyncRead(client, kMaxListEntries); }},
    };
    std::printf("worst legal calls across processes, %d tags, poll period %.0f ms (best of %d)\n",
                kTags, pollPeriod * 1e3, kRounds);
    double worstWait = 0;
    const char* worstCall = "";
    for (const Case& c : worstLegal) {
        CallCost best;
        best.seconds = 1e9;
        best.longestStatusWait = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            const CallCost cost = watch.Measure(c.call);
            best.result = cost.result;
            best.seconds = std::min(best.seconds, cost.seconds);
            best.longestStatusWait = std::min(best.longestStatusWait, cost.longestStatusWait);
        }
        Print(c.what, best, pollPeriod);
        if (best.longestStatusWait > worstWait) {
            worstWait = best.longestStatusWait;
            worstCall = c.what;
        }
    }
    std::printf("the worst legal call holds the main thread %.1f ms of a %.0f ms poll period, "
                "ratio %.3f (%s)\n",
                worstWait * 1e3, pollPeriod * 1e3, worstWait / pollPeriod, worstCall);

    // The one that grows the server without the caps comes last: the watch may end it.
    const Case giant[] = {
        {"IOPCBrowse::Browse, a filter of 10^6 '*'",
         [&] { return Browse(client, std::wstring(1000000, L'*') + L"Z", L"", FALSE, FALSE); }},
        {"IOPCItemProperties::GetItemProperties of 10^6 IDs",
         [&] { return GetItemProperties(client, 1000000); }},
        {"IOPCBrowse::Browse, a continuation point of 10^6 units",
         [&] { return Browse(client, L"", std::wstring(1000000, L'p'), FALSE, FALSE); }},
        {"IOPCBrowse::GetProperties 1000 IDs x 10^6 property IDs",
         [&] { return GetProperties(client, 1000, PropertyIds(1000000), TRUE); }},
    };
    std::printf("giant calls: answer, call, another client's longest GetStatus, server memory\n");
    for (const Case& c : giant) {
        if (!watch.Answering()) {
            std::printf("%-58s not made: the server no longer answers\n", c.what);
            continue;
        }
        const CallCost cost = watch.Measure(c.call);
        std::printf("%-58s 0x%08lX %8.1f ms  GetStatus waited %7.1f ms  grew %8.1f MB at the "
                    "peak, %6.1f MB after%s\n",
                    c.what, static_cast<unsigned long>(cost.result), cost.seconds * 1e3,
                    cost.longestStatusWait * 1e3, Megabytes(cost.peakGrowth),
                    Megabytes(cost.growthAfter),
                    cost.serverEnded ? " (ended by the watch at 1 GB)" : "");
    }
    return 0;
}
