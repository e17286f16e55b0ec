// frozen_shutdown_client.exe MODE EVENTS: an OPC client of the registered server that behaves
// as a hung or racing client would, signalling named events that start with EVENTS.
//   shutdown     connects an IOPCShutdown sink, sets EVENTS + " ready", and once the notice comes
//                sets EVENTS + " noticed" and never returns from it.
//   data-object  subscribes a DA 1.0 advise sink to an active group with the item Level, sets
//                EVENTS + " ready", and in its first OnDataChange sets EVENTS + " noticed" and
//                never returns.
//   activate     releases the semaphore EVENTS + " waiting" once, waits for EVENTS + " go" and
//                then creates a server object at once; its exit code is CoCreateInstance's result.
// A frozen client ends after a minute at most.
#include <windows.h>
#include <wrl/client.h>
#include <ocidl.h>

#include <string>

#include "opc_da.h"
#include "server_identity.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD kLifetimeMs = 60000;

void Signal(const std::wstring& name)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    if (!event) return;
    SetEvent(event);
    // Kept open: the event must outlive this call until the test has seen it.
}

// Signals `noticed`, then hangs in the call: no messages pumped, no return.
[[noreturn]] void Freeze(const std::wstring& noticed)
{
    Signal(noticed);
    Sleep(kLifetimeMs);
    ExitProcess(0);
}

class FrozenShutdownSink : public IOPCShutdown {
public:
    explicit FrozenShutdownSink(std::wstring noticed) : noticed_(std::move(noticed)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IOPCShutdown ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        return S_OK;
    }
    // Static in WinMain: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) override { Freeze(noticed_); }

private:
    std::wstring noticed_;
};

class FrozenAdviseSink : public IAdviseSink {
public:
    explicit FrozenAdviseSink(std::wstring noticed) : noticed_(std::move(noticed)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IAdviseSink ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        return S_OK;
    }
    // Static in WinMain: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    void STDMETHODCALLTYPE OnDataChange(FORMATETC*, STGMEDIUM*) override { Freeze(noticed_); }
    void STDMETHODCALLTYPE OnViewChange(DWORD, LONG) override {}
    void STDMETHODCALLTYPE OnRename(IMoniker*) override {}
    void STDMETHODCALLTYPE OnSave() override {}
    void STDMETHODCALLTYPE OnClose() override {}

private:
    std::wstring noticed_;
};

bool AdviseShutdownSink(IOPCServer* server, IOPCShutdown* sink)
{
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    return SUCCEEDED(server->QueryInterface(IID_PPV_ARGS(&container))) &&
           SUCCEEDED(container->FindConnectionPoint(IID_IOPCShutdown, &point)) &&
           SUCCEEDED(point->Advise(sink, &cookie));
}

bool AdviseDataObjectSink(IOPCServer* server, IAdviseSink* sink)
{
    ComPtr<IOPCItemMgt> items;
    OPCHANDLE group = 0;
    DWORD revised = 0;
    if (FAILED(server->AddGroup(L"frozen", TRUE, 100, 1, nullptr, nullptr, 0, &group, &revised,
                                IID_IOPCItemMgt,
                                reinterpret_cast<IUnknown**>(items.GetAddressOf()))))
        return false;
    OPCITEMDEF level{};
    level.szItemID = const_cast<LPWSTR>(L"Level");
    level.szAccessPath = const_cast<LPWSTR>(L"");
    level.bActive = TRUE;
    level.hClient = 1;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    const HRESULT added = items->AddItems(1, &level, &results, &errors);
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    ComPtr<IDataObject> data;
    FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatA("OPCSTMFORMATDATATIME")),
                     nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    DWORD token = 0;
    return added == S_OK && SUCCEEDED(items.As(&data)) &&
           SUCCEEDED(data->DAdvise(&format, 0, sink, &token));
}

// Waits with every other racing client for the start signal, then activates the server.
int Activate(const std::wstring& events)
{
    HANDLE waiting = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, (events + L" waiting").c_str());
    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, (events + L" go").c_str());
    if (!waiting || !go) return 3;
    ReleaseSemaphore(waiting, 1, nullptr);
    if (WaitForSingleObject(go, kLifetimeMs) != WAIT_OBJECT_0) return 4;
    ComPtr<IOPCServer> server;
    return static_cast<int>(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr,
                                             CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&server)));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    if (__argc != 3 || FAILED(CoInitialize(nullptr))) return 1;
    const std::wstring mode = __wargv[1];
    const std::wstring events = __wargv[2];
    if (mode == L"activate") ExitProcess(static_cast<UINT>(Activate(events)));

    static FrozenShutdownSink shutdownSink(events + L" noticed");
    static FrozenAdviseSink adviseSink(events + L" noticed");
    ComPtr<IOPCServer> server;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&server))) ||
        !(mode == L"shutdown" ? AdviseShutdownSink(server.Get(), &shutdownSink)
                              : AdviseDataObjectSink(server.Get(), &adviseSink))) {
        return 2;
    }
    Signal(events + L" ready");
    // Serves the calls that freeze it; ends when the lifetime is over.
    SetTimer(nullptr, 0, kLifetimeMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) break;
        DispatchMessageW(&message);
    }
    ExitProcess(0);
}
