#include "shutdown_listener.h"

#include <exception>

#include "console_output.h"

using Microsoft::WRL::ComPtr;

ComPtr<ShutdownListener> ShutdownListener::Create()
{
    ComPtr<ShutdownListener> listener;
    listener.Attach(new ShutdownListener);
    return listener;
}

HRESULT ShutdownListener::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IOPCShutdown) return E_NOINTERFACE;
    *ppv = static_cast<IOPCShutdown*>(this);
    AddRef();
    return S_OK;
}

ULONG ShutdownListener::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG ShutdownListener::Release()
{
    const LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT ShutdownListener::ShutdownRequest(LPCWSTR szReason)
{
    m_notified = true;
    try {
        PrintLine(L"shutdown notice: " + std::wstring(szReason ? szReason : L"(no reason)"));
    } catch (const std::exception&) {
        // Nothing may be thrown back into the server's call.
    }
    return S_OK;
}
