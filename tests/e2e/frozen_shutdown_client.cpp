// frozen_shutdown_client.exe: an OPC client that connects an IOPCShutdown sink to the
// registered server and then stops answering once the notice comes, as a hung client would.
// It sets the named event given as its first argument + " ready" once connected and + " noticed"
// when the notice arrives; it never returns from the notice and ends after a minute at most.
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

class FrozenSink : public IOPCShutdown {
public:
    explicit FrozenSink(std::wstring noticed) : noticed_(std::move(noticed)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = riid == IID_IUnknown || riid == IID_IOPCShutdown ? this : nullptr;
        if (!*ppv) return E_NOINTERFACE;
        return S_OK;
    }
    // Static in WinMain: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE ShutdownRequest(LPCWSTR) override
    {
        Signal(noticed_);
        Sleep(kLifetimeMs);  // frozen: no messages pumped, no return
        ExitProcess(0);
    }

private:
    std::wstring noticed_;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int)
{
    const std::wstring events = commandLine;
    if (events.empty() || FAILED(CoInitialize(nullptr))) return 1;
    static FrozenSink sink(events + L" noticed");
    ComPtr<IConnectionPointContainer> container;
    ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
    if (FAILED(CoCreateInstance(CLSID_ParhelionixOPCServer, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_PPV_ARGS(&container))) ||
        FAILED(container->FindConnectionPoint(IID_IOPCShutdown, &point)) ||
        FAILED(point->Advise(&sink, &cookie))) {
        return 2;
    }
    Signal(events + L" ready");
    // Serves the notice; ends when the lifetime is over.
    SetTimer(nullptr, 0, kLifetimeMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) break;
        DispatchMessageW(&message);
    }
    ExitProcess(0);
}
