// opc_fake_server.exe: a test-only local COM server that serves fake::Server objects for
// fake::kClsid, so that a test can check every OPC argument crossing between processes.
// It ends when its last object is released, or after a minute without that.
#include "fake_server.h"
#include "fake_values.h"
#include "task_block_count.h"

#include <cstring>

namespace fake {
namespace {

LONG liveObjects = 0;
bool served = false;

class ClassFactory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    // Static object: COM's references do not decide its life.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return hand_out(new Server, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

void object_created()
{
    ++liveObjects;
    served = true;
}

void object_destroyed()
{
    if (--liveObjects == 0) PostQuitMessage(0);
}

wchar_t* task_string(const std::wstring& text)
{
    const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes));
    if (copy) std::memcpy(copy, text.c_str(), bytes);
    return copy;
}

}  // namespace fake

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (FAILED(CoInitialize(nullptr)) || !fake::count_task_blocks()) return 1;
    static fake::ClassFactory factory;
    DWORD cookie = 0;
    if (FAILED(CoRegisterClassObject(fake::kClsid, &factory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_MULTIPLEUSE, &cookie))) {
        CoUninitialize();
        return 2;
    }
    // Ends a server that no client reached or that a crashed client left behind.
    constexpr UINT kGiveUpMs = 60000;
    SetTimer(nullptr, 0, kGiveUpMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr) break;
        DispatchMessageW(&message);
    }
    CoRevokeClassObject(cookie);
    CoUninitialize();
    return fake::served ? 0 : 3;
}
