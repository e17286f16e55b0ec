#include "bench/soak_clients.h"

#include <wrl/client.h>

#include <string>
#include <vector>

#include "bench/client_calls.h"
#include "opc_da.h"
#include "server_identity.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kSubscriberRateMs = 200;

class CountingSink final : public IAdviseSink {
public:
    explicit CountingSink(SubscriberTally& tally) : m_tally(tally) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IAdviseSink) return E_NOINTERFACE;
        *ppv = static_cast<IAdviseSink*>(this);
        AddRef();
        return S_OK;
    }
    // Lives on the subscriber's stack for the whole run: the count only guards nothing.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override
    {
        const LONG64 now = static_cast<LONG64>(GetTickCount64());
        const LONG64 last = m_tally.lastDeliveryTick;
        if (last != 0 && now - last > m_tally.longestGapMs) m_tally.longestGapMs = now - last;
        m_tally.lastDeliveryTick = now;
        InterlockedIncrement(&m_tally.deliveries);
    }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

private:
    SubscriberTally& m_tally;
};

struct ItemDefinitions {
    ItemDefinitions()
    {
        for (int i = 0; i < kSoakTags; ++i) itemIds.push_back(L"TAG" + std::to_wstring(i));
        for (std::wstring& itemId : itemIds) {
            OPCITEMDEF definition{};
            definition.szItemID = itemId.data();
            definition.bActive = TRUE;
            items.push_back(definition);
        }
    }
    DWORD Count() const { return static_cast<DWORD>(items.size()); }
    std::vector<std::wstring> itemIds;
    std::vector<OPCITEMDEF> items;
};

// Adds every definition; the server handles, empty when the server refused.
std::vector<OPCHANDLE> AddItems(IOPCItemMgt* items, ItemDefinitions& definitions)
{
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    std::vector<OPCHANDLE> handles;
    if (items->AddItems(definitions.Count(), definitions.items.data(), &results, &errors) == S_OK) {
        for (DWORD i = 0; i < definitions.Count(); ++i) handles.push_back(results[i].hServer);
    }
    FreeResults(definitions.Count(), results, errors);
    return handles;
}

bool AddGroup(IOPCServer* server, const wchar_t* name, DWORD rateMs, OPCHANDLE& handle,
              ComPtr<IOPCItemMgt>& items)
{
    DWORD revised = 0;
    return SUCCEEDED(server->AddGroup(name, TRUE, rateMs, 0, nullptr, nullptr, 0, &handle, &revised,
                                      IID_IOPCItemMgt,
                                      reinterpret_cast<IUnknown**>(items.GetAddressOf())));
}

bool ReadAndWrite(IOPCItemMgt* items, std::vector<OPCHANDLE>& handles)
{
    ComPtr<IOPCSyncIO> io;
    if (FAILED(items->QueryInterface(IID_PPV_ARGS(&io)))) return false;
    const bool read = ReadValues(io.Get(), handles);
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_I4;
    value.lVal = 7;
    HRESULT* errors = nullptr;
    const HRESULT write = io->Write(1, handles.data(), &value, &errors);
    CoTaskMemFree(errors);
    return read && SUCCEEDED(write);
}

bool ChurnOnce(IOPCServer* server, ItemDefinitions& definitions)
{
    OPCHANDLE group = 0;
    ComPtr<IOPCItemMgt> items;
    if (!AddGroup(server, L"", 100, group, items)) return false;
    std::vector<OPCHANDLE> handles = AddItems(items.Get(), definitions);
    bool good = !handles.empty() && EnumerateAttributes(items.Get(), kSoakTags) &&
                ReadAndWrite(items.Get(), handles);
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    good = good && SUCCEEDED(items->ValidateItems(definitions.Count(), definitions.items.data(),
                                                  FALSE, &results, &errors));
    FreeResults(definitions.Count(), results, errors);
    if (!handles.empty()) {
        HRESULT* removeErrors = nullptr;
        good = SUCCEEDED(items->RemoveItems(static_cast<DWORD>(handles.size()), handles.data(),
                                            &removeErrors)) &&
               good;
        CoTaskMemFree(removeErrors);
    }
    items.Reset();
    return SUCCEEDED(server->RemoveGroup(group, FALSE)) && good;
}

}  // namespace

int RunSubscriber(SoakShared& shared, int slot)
{
    if (slot < 0 || slot >= kMaxSubscribers) return 2;
    CountingSink sink(shared.Tally().subscribers[slot]);
    ComPtr<IOPCServer> server;
    OPCHANDLE group = 0;
    ComPtr<IOPCItemMgt> items;
    ComPtr<IDataObject> data;
    ItemDefinitions definitions;
    DWORD connection = 0;
    const auto format = static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME"));
    FORMATETC formatEtc{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server))) ||
        !AddGroup(server.Get(), L"", kSubscriberRateMs, group, items) ||
        AddItems(items.Get(), definitions).empty() || FAILED(items.As(&data)) ||
        FAILED(data->DAdvise(&formatEtc, 0, &sink, &connection))) {
        return 1;
    }
    HANDLE stop = shared.StopEvent();
    while (MsgWaitForMultipleObjects(1, &stop, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
    }
    data->DUnadvise(connection);
    return 0;
}

int RunChurn(SoakShared& shared)
{
    ComPtr<IOPCServer> server;
    ItemDefinitions definitions;
    while (!shared.Stopping()) {
        if (!server && FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                               CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)))) {
            InterlockedIncrement(&shared.Tally().churnFailures);
            Sleep(1000);
            continue;
        }
        if (ChurnOnce(server.Get(), definitions)) {
            InterlockedIncrement(&shared.Tally().churnCycles);
        } else {
            InterlockedIncrement(&shared.Tally().churnFailures);
            server.Reset();  // a fresh server object next time
        }
    }
    return 0;
}

int Ping()
{
    ComPtr<IOPCServer> server;
    OPCSERVERSTATUS* status = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server))) ||
        FAILED(server->GetStatus(&status)) || !status) {
        return 1;
    }
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    return 0;
}
